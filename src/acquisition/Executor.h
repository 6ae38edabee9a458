#pragma once
// Executing one request line into its answer line.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/CycleObserver.h"
#include "acquisition/Lamp.h"
#include "acquisition/Reading.h"
#include "acquisition/SerialLine.h"
#include "modbus/MBus.h"
#include "modbus/SerialProfile.h"
#include "platform/Clock.h"

namespace tarvel {

// A scale register: node, function, address.
using ScaleKey = std::tuple<std::uint8_t, std::uint8_t, std::uint16_t>;

// One request that serves several read lines.
struct PlannedBlock {
    std::uint16_t start = 0;
    std::uint16_t quantity = 0;
    std::vector<std::size_t> lines;  // the lines it serves, from `index` on
};

// The block of the read line at `index` with the profile's Block and Gap;
// nothing when the line reads alone. `scaleRead`: a scale register read
// already in this cycle, which no block reads again.
std::optional<PlannedBlock> PlanBlock(const std::vector<RequestLine>& lines, std::size_t index,
                                      const SerialProfile& profile,
                                      const std::function<bool(const ScaleKey&)>& scaleRead);

class Executor {
  public:
    // `acquiring`: timed acquisition is on (a wait line shows its lamp then).
    Executor(SerialLine& linea, Clock& clock, CycleObserver& observer,
               const std::atomic<bool>& acquiring);

    // A line run by hand: it reads only itself.
    Risposta Run(const RequestLine& line);
    // Line `index` of a cycle over `lines`: with block reads on, a read
    // line may be served by one request for it and the lines after it.
    Risposta Run(const std::vector<RequestLine>& lines, std::size_t index);
    // The same into `answer`, a new one.
    void Run(const std::vector<RequestLine>& lines, std::size_t index, Risposta& answer);
    // A new cycle: skipped nodes are tried again, blocks and scale
    // registers are read afresh.
    void NewCycle();

    using ScaleKey = tarvel::ScaleKey;

  private:
    void run(const RequestLine& line, const std::vector<RequestLine>* lines, std::size_t index,
             Risposta& answer);
    // Fills `reading`, a new one.
    void runRead(const RequestLine& line, const std::vector<RequestLine>* lines, std::size_t index,
                 Reading& reading);
    void readRow(const ReadParameters& p, const std::vector<RequestLine>* lines, std::size_t index,
                   Reading& reading);
    void read(const ReadParameters& p, const std::vector<RequestLine>* lines, std::size_t index,
               Reading& reading);
    std::optional<ValueItems> readElements(const ReadParameters& p, bool fromBlock,
                                           Reading& reading);
    std::optional<std::uint16_t> readScale(const ReadParameters& p, bool ciclo,
                                            Reading& reading);
    void prepareBlock(const std::vector<RequestLine>& lines, std::size_t index);
    void prepareInFlight(const std::vector<RequestLine>& lines, std::size_t index);
    std::string runWait(const RequestLine& line);
    void showResult(const Risposta& result);

    MBus& mbus_;
    Clock& clock_;
    // The line in force: it applies the serial lines, and its profile gives
    // the reads their Skip, Block and Gap.
    SerialLine& context_;
    CycleObserver& observer_;
    const std::atomic<bool>& acquiring_;
    // Failed reads in a row, by node, within the cycle.
    std::array<int, 256> failedInARow_{};
    // The last block read in this cycle and the lines it serves; lines of
    // a block that failed read on their own.
    std::optional<Transaction> block_;
    std::vector<std::size_t> servedByBlock_;
    std::vector<std::size_t> readAlone_;
    // The exchanges of the lines whose requests went out together in this
    // cycle (Window), by line.
    std::map<std::size_t, Transaction> inFlight_;
    // The scale registers read in this cycle: the item, or how its read
    // failed.
    struct ScaleRead {
        std::optional<std::uint16_t> item;
        std::optional<TransactionResult> outcome;
    };
    std::map<ScaleKey, ScaleRead> scale_;
};

}  // namespace tarvel
