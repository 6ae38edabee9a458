#pragma once
// The health of each node on the line: what its requests gave, since the
// program started or the settings were last loaded. Counting never changes
// the wire or the output.

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "modbus/TransactionResult.h"
#include "modbus/Transaction.h"
#include "platform/Clock.h"

namespace tarvel {

struct NodeHealth {
    std::uint64_t richieste = 0;
    std::uint64_t buone = 0;
    // Nothing, or not all of an answer, in time; a write the port refused.
    std::uint64_t timeOut = 0;
    std::uint64_t erroriCRC = 0;
    std::uint64_t risposteErrate = 0;
    std::map<std::uint8_t, std::uint64_t> eccezioni;  // by exception code
    std::uint64_t saltate = 0;                        // lines skipped while the node was dead
    std::optional<TimePoint> ultimaBuona;

    // Median time from the request to the whole answer, over the last
    // `Campioni` good answers; nothing before the first.
    std::optional<std::chrono::microseconds> tempoMediano() const;

    static constexpr std::size_t Campioni = 100;
    std::array<std::chrono::microseconds, Campioni> tempi{};
    std::size_t quantiTempi = 0;
    std::size_t prossimoTempo = 0;
};

class Health {
  public:
    // One exchange with its node (1 to 255; broadcasts are not counted),
    // ended `adesso`.
    void registra(const Transaction& t, TimePoint adesso);
    void saltata(std::uint8_t nodo);
    void azzera() { nodi_.clear(); }
    // The nodes asked so far, in number order.
    const std::map<std::uint8_t, NodeHealth>& nodi() const { return nodi_; }

  private:
    std::map<std::uint8_t, NodeHealth> nodi_;
};

// One node's counters as the texts of a table row, in the order of
// `IntestazioniSalute()`: node, requests, good answers, time-outs, CRC
// errors, wrong answers, exceptions ("2:3 4:1", code and count, or "-"),
// skipped lines, median answer time in milliseconds with one decimal ("-"
// before the first good answer). The time of the last good answer is left
// to the caller, which knows the wall clock.
std::vector<std::string> CampiSalute(std::uint8_t nodo, const NodeHealth& salute);
const std::vector<std::string>& IntestazioniSalute();

}  // namespace tarvel
