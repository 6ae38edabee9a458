#pragma once
// The simulated bus: reads requests from the pty, lets libmodbus answer them
// for the node they are addressed to, applies the faults and the wire time,
// and writes the answers back. One thread, one poll loop; idle means asleep
// in poll.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ControlFifo.h"
#include "LiveValues.h"
#include "ModbusBridge.h"
#include "Options.h"
#include "PlantMap.h"
#include "Pty.h"

namespace tarvel::sim {

class Simulator {
  public:
    explicit Simulator(Options options);
    ~Simulator();

    // Sets up, serves until SIGTERM or SIGINT, cleans up. Returns the exit
    // code: 0 after a signal, 1 when the set-up failed.
    int run();

  private:
    struct Outgoing {
        SteadyTime due;
        int node;
        Bytes bytes;
    };

    bool setUp();
    void tearDown();
    bool loadMap();
    bool plug();
    void unplug();

    void serve();
    int pollTimeout(SteadyTime now) const;
    void readPty(SteadyTime now);
    void readSignals();
    void runCommand(const std::string& command);
    void sendDue(SteadyTime now);

    void handleFrame(const Bytes& frame, SteadyTime arrived);
    bool answerFor(int node, const Bytes& request, Bytes& answer, int& delayMs);
    void refreshLive(int node, Table table, std::uint16_t address, int quantity);
    std::uint16_t liveValue(int node, const NodeMap& map, const LiveRegister& item, SteadyTime now);
    void schedule(int node, Bytes answer, std::size_t requestBytes, int delayMs,
                  SteadyTime arrived);
    std::chrono::microseconds wireTime(std::size_t bytes) const;

    void log(const std::string& text) const;
    void trace(const std::string& text) const;

    Options options_;
    PlantMap plant_;
    std::map<int, Mapping> mappings_;
    LiveValues live_;
    PseudoTerminal pty_;
    ModbusBridge bridge_;
    ControlFifo control_;
    SteadyTime started_;

    Bytes incoming_;
    SteadyTime lastByte_;
    std::vector<Outgoing> outgoing_;  // in order of due time
    bool stopping_ = false;
};

}  // namespace tarvel::sim
