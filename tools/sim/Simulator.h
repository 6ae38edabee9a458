#pragma once
// The simulated bus: reads requests from the pty and from network
// connections, lets libmodbus answer them for the node they are addressed
// to, applies the faults and the wire time, and writes the answers back to
// where each request came from. One thread, one poll loop; idle means
// asleep in poll.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ControlFifo.h"
#include "Listener.h"
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
    // Where requests come from and their answers go: the pty (number 0) or
    // one network connection. Numbers are never used again, so an answer
    // due on a closed connection never reaches a new one.
    struct Line {
        int fd = -1;
        Framing framing = Framing::Rtu;
        std::string name;  // in messages
        Bytes incoming;
        SteadyTime lastByte;
        SteadyTime lastActivity;  // the last request taken in or answer sent
        bool answered = false;    // the last of them was an answer
    };
    struct Outgoing {
        SteadyTime due;
        int line;
        int node;
        Bytes bytes;
    };
    static constexpr int kPty = 0;

    bool setUp();
    void tearDown();
    bool loadMap();
    bool plug();
    void unplug();
    bool listen(Listener& listener, int port, const char* kind);
    void accept(const Listener& listener, Framing framing);
    void forget(int line);
    void closeConnection(int line, const std::string& why);
    void drop();

    void serve();
    std::optional<timespec> pollTimeout(SteadyTime now) const;
    void readLine(int line, SteadyTime now);
    void takeTcpRequests(int line, SteadyTime now);
    void readSignals();
    void runCommand(const std::string& command);
    void sendDue(SteadyTime now);
    bool mayCloseIdle(int number, const Line& line) const;
    void closeIdle(SteadyTime now);

    void handleFrame(int line, const Bytes& frame, SteadyTime arrived);
    void handleTcpRequest(int line, const Bytes& request, SteadyTime arrived);
    bool answerFor(int node, const Bytes& request, Framing framing, Bytes& answer, int& delayMs);
    void refreshLive(int node, Table table, std::uint16_t address, int quantity);
    std::uint16_t liveValue(int node, const NodeMap& map, const LiveRegister& item, SteadyTime now);
    void schedule(int line, int node, Bytes answer, std::chrono::microseconds after,
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
    ModbusBridge tcpBridge_;
    Listener tcpListener_;
    Listener rtuTcpListener_;
    ControlFifo control_;
    SteadyTime started_;

    std::map<int, Line> lines_;
    int nextLine_ = 1;
    std::vector<Outgoing> outgoing_;  // in order of due time
    bool stopping_ = false;
};

}  // namespace tarvel::sim
