#pragma once
// Command line of tarvel-sim.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvel::sim {

struct Options {
    std::string mapPath;
    std::vector<int> nodes;
    std::string link;
    std::string control;
    std::uint32_t seed = 1;
    int baud = 0;  // 0: no wire time
    int bitsPerByte = 10;
    std::optional<double> hour;
    std::optional<int> tcpPort;     // Modbus TCP server on 127.0.0.1
    std::optional<int> rtuTcpPort;  // RTU frames over TCP on 127.0.0.1
    std::optional<int> idleCloseMs;  // a network connection idle this long is closed
    bool echo = false;  // the pty gives back every byte it takes, at once
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// False with a message in `error` for a wrong command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

extern const char* const kHelpText;

}  // namespace tarvel::sim
