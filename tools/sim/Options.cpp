#include "Options.h"

#include <charconv>
#include <filesystem>
#include <string_view>

namespace tarvel::sim {

const char* const kHelpText = R"(Usage: tarvel-sim [OPTIONS]

Simulates Modbus-RTU slave devices on a pseudo-terminal and, when asked,
over TCP. The first line on stdout is the path of the pty's slave side
(/dev/pts/N): open it as the serial port. With --tcp and --rtu-tcp the lines
"tcp 127.0.0.1:PORT" and "rtu-tcp 127.0.0.1:PORT" follow, in this order,
with the port actually bound. Messages go to stderr.

Options:
  --map FILE         register map and faults (format below); a name without
                     a "/" that is no file here is looked for, as given and
                     with ".map", in the installed data folder (the demo
                     plant: --map demo-plant), and from a build tree in the
                     source tree's tools/sim
  --node N           a node (1-247) answering with all items 0; may be
                     repeated; added to the nodes of --map
  --link PATH        make PATH a symlink to the pty (replaced if present,
                     removed at exit and on unplug)
  --control FIFO     create a named pipe that takes one command per line:
                       unplug   close the pty (an open port sees hang-up)
                       plug     open a new pty, point --link at it and
                                print its path on stdout
                       reload   read the map file again
                       drop     close every network connection (the
                                listeners stay open: clients may
                                connect again at once)
  --tcp PORT         also serve the nodes as a Modbus TCP server on
                     127.0.0.1:PORT (0: a free port); the unit identifier
                     of a request is its node
  --rtu-tcp PORT     also take RTU frames over TCP on 127.0.0.1:PORT (0: a
                     free port), as a serial device server passes them on:
                     each connection is a line of its own, its frames
                     delimited, damaged and timed as on the pty
  --idle-close MS    close a network connection MS ms after its last
                     request or answer, as a gateway that drops idle
                     connections does (0: right after each answer)
  --seed N           seed of the random parts of live values (default 1)
  --baud N           emulate wire time on the pty and the --rtu-tcp
                     connections (not on --tcp): each answer leaves
                     (request bytes + answer bytes) * bits / N seconds
                     after the request arrived
  --bits 10|11       bits per byte on the wire for --baud (default 10)
  --hour H           use hour H (0-24) for the daily power curve instead of
                     the local clock
  --echo             the pty gives back every byte it receives at once, as
                     an RS-485 adapter without echo suppression does
  --verbose          log every request and answer in hex on stderr
  --version          print the name and version and exit
  --help             this text

Signals: SIGUSR1 reads the map file again; SIGTERM and SIGINT end the
simulator (exit code 0, link and control pipe removed).

Requests with a bad CRC, for nodes not served, or broadcast (node 0) get no
answer. Modbus TCP requests are delimited by the length in their header
(several in one packet are each answered); a length below 2 or above 254
closes the connection. Function codes 1, 2, 3, 4, 5, 6, 15 and 16 are served from the map,
function 8 sub-function 0 (Return Query Data) with the request's echo,
function 43 (Read Device Identification, MEI 14) from the node's ident line
(exception 1 without one); writes change the value until the next reload
(live values ignore them).

Map file: one statement per line; '#' starts a comment; numbers are decimal
or 0x hex.
  node N                 the table lines below belong to node N (1-247)
  coil ADDR VALUE        coil (functions 1, 5, 15)
  discrete ADDR VALUE    discrete input (function 2)
  holding ADDR VALUE     holding register (functions 3, 6, 16)
  input ADDR VALUE       input register (function 4)
      ADDR: 0-65535. VALUE: -32768..65535 for registers (negative values are
      stored as two's complement), 0 or 1 for coils and discrete inputs, or:
      live:voltage[:CENTRE[:SPREAD]]  CENTRE +- SPREAD at random, new at
                                      every read (default 2300 and 20)
      live:power[:PEAK]               PEAK * sin(pi * (h - 6) / 12) for the
                                      hour h between 6 and 18, +-1 % noise,
                                      0 at night (default PEAK 3000); PEAK is
                                      the node's, also for status and energy
      live:energy_hi[:RATE[:START]]   high word of the node's 32-bit counter
      live:energy_lo[:RATE[:START]]   low word of the same counter; it only
                                      grows. RATE: "solar" (default, Wh of
                                      the node's power curve) or units per
                                      second. START: first value (default
                                      1000000-1999999, from --seed and node).
                                      A read of the high word latches the
                                      value for a low word read within 2 s.
      live:status                     1 while the node's power curve is
                                      above 0, else 0
      TYPE:NUMBER[:ORDER]             registers only: one value in the
                                      registers from ADDR upward. TYPE:
                                      float32, float64 (2 and 4 registers),
                                      int32, uint32, int64, uint64. ORDER:
                                      abcd (most significant byte first,
                                      default), cdab (words reversed), badc
                                      (bytes swapped in each word), dcba
      novalue:TYPE                    the "no value" pattern of int16
                                      (0x8000), uint16 (0xFFFF), int32 or
                                      uint32 (2 registers), int64 or uint64
                                      (4 registers)
  sunspec inverter       a SunSpec map from holding 40000: "SunS", common
                         model 1 (maker "Tarvel Sim", model SIM-INV-103,
                         serial INV-0001), inverter model 103 at 40069 (12.34
                         A, 230.1/229.9/230.2 V, live power at 40083, 50.02
                         Hz, 12345678 Wh, 41.2 C, state 4), nameplate model
                         120 at 40121 (5000 W), end at 40149; points not set
                         hold their type's "not implemented" pattern
  sunspec meter          the same with meter model 203 at 40069 (5.50 A,
                         231.5 V, 49.98 Hz, -1234 W, 4321 Wh exported, 98765
                         Wh imported), end at 40176
  ident VENDOR | PRODUCT | REVISION
                         the node's device identification (basic objects)
  fault N [TABLE ADDR] [every K] KIND [ARG]
      Fault of node N; with TABLE (coil, discrete, holding, input) and ADDR
      only for requests whose range covers that item; with "every K" only
      for every K-th of the requests the line covers (1-1000). A fault line
      also makes node N answer. KIND:
      silent             no answer
      exception CODE     answer N, function + 0x80, CODE (1-255), valid CRC
      badcrc             the normal answer with its two CRC bytes inverted
      wrongnode [M]      the answer from node M (default N + 1), valid CRC
      partial K          only the first K bytes of the answer
      delay MS           wait MS ms more before answering (delays add up);
                         a node answers in turn: it takes up a later
                         request on the same pty or connection only once
                         the delayed answer has left
      stray [BYTE]       one byte (default 0xFF) before the answer
      wrongtid           Modbus TCP only: the answer's transaction
                         identifier is the request's + 1
      nodiag             function 8 is refused with exception 1, as by a
                         device without diagnostics (otherwise sub-function
                         0, Return Query Data, is answered with its echo)
      Damage is applied in this order: exception, wrongnode, wrongtid,
      badcrc, partial, stray. For each kind the last matching line wins.
      On Modbus TCP (--tcp) the answer has an MBAP header and no CRC:
      exception gives the header (same transaction identifier, length 3)
      with unit N, function + 0x80, CODE; wrongnode puts M in the unit
      identifier; partial keeps the first K bytes counted from the header;
      stray goes before the header; badcrc is ignored there.

Example:
  node 1
  input 12 live:voltage      # 230.0 V with decimals 1
  input 14 live:power:4500   # W
  holding 100 live:energy_hi
  holding 101 live:energy_lo
  coil 0 live:status
  holding 40 0x08FD
  fault 1 holding 40 exception 2
  fault 2 silent
)";

namespace {

bool ToInteger(std::string_view text, long min, long max, long& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= min && out <= max;
}

bool ToReal(std::string_view text, double min, double max, double& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= min && out <= max;
}

// An option that takes a value; false when the value is wrong.
bool TakeValue(std::string_view name, std::string_view value, Options& options) {
    long number = 0;
    if (name == "--map")
        options.mapPath = value;
    else if (name == "--link")
        options.link = value;
    else if (name == "--control")
        options.control = value;
    else if (name == "--node") {
        if (!ToInteger(value, 1, 247, number)) return false;
        options.nodes.push_back(static_cast<int>(number));
    } else if (name == "--seed") {
        if (!ToInteger(value, 0, 0xFFFFFFFFL, number)) return false;
        options.seed = static_cast<std::uint32_t>(number);
    } else if (name == "--baud") {
        if (!ToInteger(value, 1, 10000000, number)) return false;
        options.baud = static_cast<int>(number);
    } else if (name == "--bits") {
        if (!ToInteger(value, 10, 11, number)) return false;
        options.bitsPerByte = static_cast<int>(number);
    } else if (name == "--tcp" || name == "--rtu-tcp") {
        if (!ToInteger(value, 0, 65535, number)) return false;
        (name == "--tcp" ? options.tcpPort : options.rtuTcpPort) = static_cast<int>(number);
    } else if (name == "--idle-close") {
        if (!ToInteger(value, 0, 3600000, number)) return false;
        options.idleCloseMs = static_cast<int>(number);
    } else if (name == "--hour") {
        double hour = 0;
        if (!ToReal(value, 0, 24, hour)) return false;
        options.hour = hour;
    } else {
        return false;
    }
    return !value.empty();
}

bool TakesValue(std::string_view name) {
    for (std::string_view option : {"--map", "--link", "--control", "--node", "--seed", "--baud",
                                    "--bits", "--hour", "--tcp", "--rtu-tcp", "--idle-close"}) {
        if (name == option) return true;
    }
    return false;
}

// Where a map given by its name is looked for: the working folder, the
// installed data folder beside the executable's, and for the simulator of a
// build tree the source tree's folder of the demo map.
std::vector<std::filesystem::path> MapFolders() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path bin = fs::read_symlink("/proc/self/exe", error).parent_path();
    std::vector<fs::path> folders{".", (bin / TARVEL_SIM_DATA_FROM_BIN).lexically_normal()};
    if (fs::equivalent(bin, TARVEL_SIM_BUILD_BIN, error)) folders.emplace_back(TARVEL_SIM_SOURCE);
    return folders;
}

// The map file that --map names, put in `path`; false with a message when a
// bare name is found nowhere. A path with a "/" is taken as it is.
bool FindMap(std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code e;
    if (path.empty() || path.find('/') != std::string::npos || fs::is_regular_file(path, e))
        return true;
    std::string looked;
    for (const fs::path& folder : MapFolders()) {
        for (const std::string& name : {path, path + ".map"}) {
            if (fs::is_regular_file(folder / name, e)) {
                path = (folder / name).string();
                return true;
            }
        }
        looked += (looked.empty() ? "" : ", ") + folder.string();
    }
    error = "no map " + path + " nor " + path + ".map in " + looked;
    return false;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        std::string_view value;
        bool inlineValue = false;
        if (auto equals = argument.find('='); equals != std::string_view::npos) {
            value = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
            inlineValue = true;
        }
        if (argument == "--verbose" && !inlineValue) {
            options.verbose = true;
        } else if (argument == "--echo" && !inlineValue) {
            options.echo = true;
        } else if ((argument == "--help" || argument == "-h") && !inlineValue) {
            options.help = true;
        } else if (argument == "--version" && !inlineValue) {
            options.version = true;
        } else if (TakesValue(argument)) {
            if (!inlineValue && i + 1 < argc) value = argv[++i];
            if (!TakeValue(argument, value, options)) {
                error = "valore non valido per " + std::string(argument);
                return false;
            }
        } else {
            error = "opzione sconosciuta: " + std::string(argv[i]);
            return false;
        }
    }
    if (!options.help && !options.version && options.mapPath.empty() && options.nodes.empty()) {
        error = "give --map FILE or at least one --node N";
        return false;
    }
    return options.help || options.version || FindMap(options.mapPath, error);
}

}  // namespace tarvel::sim
