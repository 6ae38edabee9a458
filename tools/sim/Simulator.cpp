#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "Answers.h"
#include "SunSpecDevice.h"
#include "platform/posix/SignalPipe.h"

namespace tarvel::sim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// Silence after which the bytes received so far are taken as one frame.
constexpr microseconds kMinimumGap{2000};

void Store(modbus_mapping_t* mapping, Table table, std::uint16_t address, std::uint16_t value) {
    switch (table) {
        case Table::Coil:
            mapping->tab_bits[address] = value != 0 ? 1 : 0;
            break;
        case Table::Discrete:
            mapping->tab_input_bits[address] = value != 0 ? 1 : 0;
            break;
        case Table::Holding:
            mapping->tab_registers[address] = value;
            break;
        case Table::Input:
            mapping->tab_input_registers[address] = value;
            break;
    }
}

// Function 8 with its sub-function and two data bytes: libmodbus, which
// knows no length for it, cannot take it off the line.
constexpr std::size_t kDiagnosticsLength = 8;

bool IsDiagnostics(const Bytes& frame) {
    return frame.size() >= kDiagnosticsLength && frame[1] == 8 &&
           ModbusCrc(std::span(frame.data(), kDiagnosticsLength)) == 0;
}

// Read Device Identification: node, 43, MEI type, read code, object, CRC.
constexpr std::size_t kDeviceIdLength = 7;

bool IsDeviceId(const Bytes& frame) {
    return frame.size() >= kDeviceIdLength && frame[1] == 0x2B &&
           ModbusCrc(std::span(frame.data(), kDeviceIdLength)) == 0;
}

// The answer to Read Device Identification in the request's framing.
Bytes DeviceIdFrame(const NodeMap& node, const Bytes& request, std::size_t pdu, Framing framing) {
    std::uint8_t code = 0;
    const Bytes body = DeviceIdAnswer(
        node.identity, Bytes(request.begin() + static_cast<std::ptrdiff_t>(pdu), request.end() - (framing == Framing::Rtu ? 2 : 0)),
        code);
    if (body.empty())
        return framing == Framing::Rtu ? ExceptionAnswer(request[0], 0x2B, code)
                                       : MbapExceptionAnswer(request, code);
    Bytes answer;
    if (framing == Framing::Rtu) {
        answer.push_back(request[0]);
    } else {
        const auto length = static_cast<std::uint16_t>(body.size() + 1);
        answer = {request[0], request[1], 0, 0, static_cast<std::uint8_t>(length >> 8),
                  static_cast<std::uint8_t>(length & 0xFF), request[6]};
    }
    answer.insert(answer.end(), body.begin(), body.end());
    if (framing == Framing::Rtu) AppendCrc(answer);
    return answer;
}

Bytes TakeFront(const Bytes& bytes, std::size_t length, Bytes& rest) {
    rest.assign(bytes.begin() + static_cast<std::ptrdiff_t>(length), bytes.end());
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// Quantity of items a request works on (function codes with a table); its
// PDU starts at `pdu`.
int QuantityOf(const Bytes& request, std::size_t pdu) {
    const int function = request[pdu];
    if (function == 5 || function == 6) return 1;
    return (request[pdu + 3] << 8) | request[pdu + 4];
}

}  // namespace

Simulator::Simulator(Options options)
    : options_(std::move(options)),
      live_(options_.seed, options_.hour),
      started_(std::chrono::steady_clock::now()) {}

Simulator::~Simulator() { tearDown(); }

int Simulator::run() {
    if (!setUp()) {
        tearDown();
        return 1;
    }
    serve();
    tearDown();
    return 0;
}

bool Simulator::setUp() {
    std::string error;
    // A test that stops reading the pty, or closes its connection, must not
    // end the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    if (!SignalPipe::Install({SIGTERM, SIGINT, SIGUSR1}) || !bridge_.open(Framing::Rtu, error) ||
        !tcpBridge_.open(Framing::Tcp, error)) {
        log(error.empty() ? std::string("signal set-up failed") : error);
        return false;
    }
    if (!loadMap()) return false;
    if (!options_.control.empty() && !control_.create(options_.control, error)) {
        log(error);
        return false;
    }
    // The listeners' lines follow the pty's, which tests read first.
    return plug() && (!options_.tcpPort || listen(tcpListener_, *options_.tcpPort, "tcp")) &&
           (!options_.rtuTcpPort || listen(rtuTcpListener_, *options_.rtuTcpPort, "rtu-tcp"));
}

void Simulator::tearDown() {
    for (const auto& [number, line] : lines_) {
        if (number != kPty) ::close(line.fd);
    }
    lines_.clear();
    tcpListener_.close();
    rtuTcpListener_.close();
    pty_.close();
    if (!options_.link.empty()) RemoveLink(options_.link);
    control_.remove();
    SignalPipe::Remove();
}

bool Simulator::loadMap() {
    PlantMap map;
    std::string error;
    if (!options_.mapPath.empty() && !LoadPlantMap(options_.mapPath, map, error)) {
        log(error + " (map not changed)");
        return false;
    }
    for (int node : options_.nodes) map.nodes[node];
    std::map<int, Mapping> mappings;
    for (const auto& [node, nodeMap] : map.nodes) {
        Mapping mapping = NewFullMapping();
        if (!mapping) {
            log("out of memory for the register mapping");
            return false;
        }
        for (const auto& item : nodeMap.fixed) {
            Store(mapping.get(), item.table, item.address, item.value);
        }
        mappings.emplace(node, std::move(mapping));
    }
    plant_ = std::move(map);
    mappings_ = std::move(mappings);
    log("map loaded: " + std::to_string(plant_.nodes.size()) + " node(s), " +
        std::to_string(plant_.faults.size()) + " fault(s)");
    return true;
}

bool Simulator::plug() {
    if (pty_.isOpen()) {
        log("plug: already plugged in at " + pty_.slavePath());
        return true;
    }
    std::string error;
    if (!pty_.open(error)) {
        log(error);
        return false;
    }
    if (!options_.link.empty() && !PointLink(options_.link, pty_.slavePath(), error)) log(error);
    lines_[kPty] = Line{pty_.master(), Framing::Rtu, "pty", {}, {}, {}, false};
    std::printf("%s\n", pty_.slavePath().c_str());
    std::fflush(stdout);
    log("plugged in at " + pty_.slavePath());
    return true;
}

void Simulator::unplug() {
    if (!pty_.isOpen()) return;
    pty_.close();
    if (!options_.link.empty()) RemoveLink(options_.link);
    forget(kPty);
    log("unplugged");
}

bool Simulator::listen(Listener& listener, int port, const char* kind) {
    std::string error;
    if (!listener.open(port, error)) {
        log(error);
        return false;
    }
    std::printf("%s 127.0.0.1:%d\n", kind, listener.port());
    std::fflush(stdout);
    log(std::string(kind) + ": listening on 127.0.0.1:" + std::to_string(listener.port()));
    return true;
}

void Simulator::accept(const Listener& listener, Framing framing) {
    for (int fd; (fd = listener.accept()) >= 0;) {
        const int number = nextLine_++;
        const std::string name =
            (framing == Framing::Tcp ? "tcp " : "rtu-tcp ") + std::to_string(number);
        const SteadyTime now = std::chrono::steady_clock::now();
        lines_[number] = Line{fd, framing, name, {}, now, now, false};
        log(name + ": connected");
    }
}

// The line goes with the answers still due on it.
void Simulator::forget(int line) {
    lines_.erase(line);
    std::erase_if(outgoing_, [line](const Outgoing& item) { return item.line == line; });
}

void Simulator::closeConnection(int line, const std::string& why) {
    // Closed before it is told: whoever reads the line finds it closed.
    const std::string name = lines_.at(line).name;
    ::close(lines_.at(line).fd);
    forget(line);
    log(name + ": " + why + ", connection closed");
}

void Simulator::drop() {
    std::vector<int> connections;
    for (const auto& [number, line] : lines_) {
        if (number != kPty) connections.push_back(number);
    }
    for (int number : connections) closeConnection(number, "drop");
    log("drop: " + std::to_string(connections.size()) + " network connection(s) closed");
}

void Simulator::serve() {
    while (!stopping_) {
        std::vector<pollfd> fds;
        const auto watch = [&fds](int fd) {
            if (fd >= 0) fds.push_back({fd, POLLIN, 0});
        };
        const auto ready = [&fds](int fd) {
            return std::any_of(fds.begin(), fds.end(),
                               [fd](const pollfd& p) { return p.fd == fd && p.revents != 0; });
        };
        watch(SignalPipe::fd());
        watch(control_.fd());
        watch(tcpListener_.fd());
        watch(rtuTcpListener_.fd());
        std::vector<std::pair<int, int>> polled;  // line number, fd
        for (const auto& [number, line] : lines_) {
            watch(line.fd);
            polled.emplace_back(number, line.fd);
        }

        const std::optional<timespec> timeout = pollTimeout(std::chrono::steady_clock::now());
        if (::ppoll(fds.data(), fds.size(), timeout ? &*timeout : nullptr, nullptr) < 0 &&
            errno != EINTR) {
            log(std::string("poll: ") + std::strerror(errno));
            return;
        }
        // The lines are read before commands run, while they are the ones
        // polled; reading one closes no other.
        for (const auto& [number, fd] : polled) {
            if (ready(fd) && lines_.contains(number)) {
                readLine(number, std::chrono::steady_clock::now());
            }
        }
        if (ready(SignalPipe::fd())) readSignals();
        if (ready(control_.fd())) {
            for (const auto& line : control_.readLines()) runCommand(line);
        }
        if (ready(tcpListener_.fd())) accept(tcpListener_, Framing::Tcp);
        if (ready(rtuTcpListener_.fd())) accept(rtuTcpListener_, Framing::Rtu);
        const auto now = std::chrono::steady_clock::now();
        for (auto& [number, line] : lines_) {
            if (line.framing != Framing::Rtu || line.incoming.empty() ||
                now - line.lastByte < kMinimumGap) {
                continue;
            }
            Bytes frame;
            frame.swap(line.incoming);
            handleFrame(number, frame, line.lastByte);
        }
        sendDue(std::chrono::steady_clock::now());
        closeIdle(std::chrono::steady_clock::now());
    }
}

// To the microsecond: an answer timed by whole milliseconds would leave up
// to one late, about a character at 9600 baud.
std::optional<timespec> Simulator::pollTimeout(SteadyTime now) const {
    std::optional<SteadyTime> next;
    const auto consider = [&next](SteadyTime when) { next = next ? std::min(*next, when) : when; };
    for (const auto& [number, line] : lines_) {
        if (line.framing == Framing::Rtu && !line.incoming.empty()) {
            consider(line.lastByte + kMinimumGap);
        }
    }
    if (!outgoing_.empty()) consider(outgoing_.front().due);
    for (const auto& [number, line] : lines_)
        if (mayCloseIdle(number, line))
            consider(line.lastActivity + milliseconds(*options_.idleCloseMs));
    if (!next) return std::nullopt;
    const long long us = std::max<long long>(
        0, std::chrono::ceil<microseconds>(*next - now).count());
    return timespec{static_cast<time_t>(us / 1'000'000), static_cast<long>(us % 1'000'000 * 1000)};
}

void Simulator::readLine(int number, SteadyTime now) {
    Line& line = lines_.at(number);
    std::uint8_t buffer[512];
    ssize_t count;
    while ((count = ::read(line.fd, buffer, sizeof buffer)) > 0) {
        if (number == kPty && options_.echo && ::write(line.fd, buffer, count) != count)
            log(std::string("pty echo: ") + std::strerror(errno));
        line.incoming.insert(line.incoming.end(), buffer, buffer + count);
        line.lastByte = line.lastActivity = now;
        line.answered = false;
    }
    // A socket reads end of file when its client has closed it.
    if (count == 0 && number != kPty) {
        closeConnection(number, "closed by the client");
        return;
    }
    if (count < 0 && errno != EAGAIN && errno != EINTR) {
        const std::string cause = std::strerror(errno);
        if (number != kPty) {
            closeConnection(number, cause);
            return;
        }
        log("pty: " + cause);
        unplug();
        return;
    }
    if (line.framing == Framing::Tcp) {
        takeTcpRequests(number, now);
    } else if (line.incoming.size() >= MODBUS_RTU_MAX_ADU_LENGTH) {
        // A line that never falls silent still gets its frames looked at.
        Bytes frame;
        frame.swap(line.incoming);
        handleFrame(number, frame, now);
    }
}

// Modbus TCP requests are delimited by the length in their MBAP header,
// however the bytes are split into packets.
void Simulator::takeTcpRequests(int number, SteadyTime now) {
    Bytes& incoming = lines_.at(number).incoming;
    while (incoming.size() >= 6) {
        const auto length = static_cast<std::size_t>((incoming[4] << 8) | incoming[5]);
        if (length < 2 || length > MODBUS_TCP_MAX_ADU_LENGTH - 6) {
            // No later request could be found in step again.
            closeConnection(number, "MBAP length " + std::to_string(length) + " out of range");
            return;
        }
        if (incoming.size() < 6 + length) return;
        const auto end = incoming.begin() + static_cast<std::ptrdiff_t>(6 + length);
        const Bytes request(incoming.begin(), end);
        incoming.erase(incoming.begin(), end);
        handleTcpRequest(number, request, now);
    }
}

void Simulator::readSignals() {
    while (const std::optional<int> number = SignalPipe::Next()) {
        if (*number == SIGUSR1) {
            loadMap();
        } else {
            log(*number == SIGINT ? "SIGINT: ending" : "SIGTERM: ending");
            stopping_ = true;
        }
    }
}

void Simulator::runCommand(const std::string& command) {
    if (command == "unplug") {
        unplug();
    } else if (command == "plug") {
        plug();
    } else if (command == "reload") {
        loadMap();
    } else if (command == "drop") {
        drop();
    } else {
        log("unknown command '" + command + "'");
    }
}

void Simulator::sendDue(SteadyTime now) {
    while (!outgoing_.empty() && outgoing_.front().due <= now) {
        const Outgoing item = std::move(outgoing_.front());
        outgoing_.erase(outgoing_.begin());
        const auto found = lines_.find(item.line);
        if (found == lines_.end()) continue;
        const ssize_t written = ::write(found->second.fd, item.bytes.data(), item.bytes.size());
        found->second.lastActivity = now;
        found->second.answered = true;
        const std::string cause = std::strerror(errno);
        trace((item.line == kPty ? "" : found->second.name + " ") + "tx " + HexText(item.bytes));
        if (item.line == kPty) {
            if (written < 0) log("pty write: " + cause);
        } else if (written != static_cast<ssize_t>(item.bytes.size())) {
            // A client that leaves its answers unread would make the loop
            // wait for it.
            closeConnection(item.line, written < 0 ? "write: " + cause : "answers not read");
        }
    }
}

// A gateway that drops idle connections: one with no answer due, idle for
// the time given, is closed; with 0, right after an answer.
bool Simulator::mayCloseIdle(int number, const Line& line) const {
    return options_.idleCloseMs && number != kPty && line.incoming.empty() &&
           (*options_.idleCloseMs > 0 || line.answered) &&
           std::none_of(outgoing_.begin(), outgoing_.end(),
                        [number](const Outgoing& o) { return o.line == number; });
}

void Simulator::closeIdle(SteadyTime now) {
    std::vector<int> idle;
    for (const auto& [number, line] : lines_)
        if (mayCloseIdle(number, line) &&
            now - line.lastActivity >= milliseconds(*options_.idleCloseMs))
            idle.push_back(number);
    for (int number : idle) closeConnection(number, "idle");
}

void Simulator::handleFrame(int line, const Bytes& frame, SteadyTime arrived) {
    const std::string prefix = line == kPty ? "" : lines_.at(line).name + " ";
    trace(prefix + "rx " + HexText(frame));
    Bytes rest = frame;
    // Requests sent back to back, without a silence between them, are taken
    // one after the other, as libmodbus delimits them by their length.
    while (rest.size() >= 4) {
        const int node = rest[0];
        if (!mappings_.contains(node)) {
            trace("   no answer: node " + std::to_string(node) + " not served");
            return;
        }
        std::string error;
        const Bytes taken = std::move(rest);
        const Bytes request =
            IsDiagnostics(taken)  ? TakeFront(taken, kDiagnosticsLength, rest)
            : IsDeviceId(taken) ? TakeFront(taken, kDeviceIdLength, rest)
                                  : bridge_.receive(static_cast<std::uint8_t>(node), taken, rest, error);
        if (request.empty()) {
            trace("   no answer: " + error);
            continue;
        }
        Bytes answer;
        int delayMs = 0;
        if (answerFor(node, request, Framing::Rtu, answer, delayMs)) {
            const auto wire = wireTime(request.size() + answer.size());
            schedule(line, node, std::move(answer), milliseconds(delayMs) + wire, arrived);
        }
    }
    if (!rest.empty()) trace("   ignored: " + HexText(rest));
}

// No wire time here: the network's own delays are all there is.
void Simulator::handleTcpRequest(int line, const Bytes& request, SteadyTime arrived) {
    trace(lines_.at(line).name + " rx " + HexText(request));
    const int node = request[6];
    if (request[2] != 0 || request[3] != 0) {
        trace("   no answer: protocol identifier not 0");
        return;
    }
    if (!mappings_.contains(node)) {
        trace("   no answer: node " + std::to_string(node) + " not served");
        return;
    }
    std::string error;
    Bytes rest;
    // libmodbus does not take function 43 off the line: its MBAP length delimits it.
    const Bytes taken = request.size() >= 8 && request[7] == 0x2B
                            ? request
                            : tcpBridge_.receive(static_cast<std::uint8_t>(node), request, rest, error);
    if (taken.empty()) {
        trace("   no answer: " + error);
        return;
    }
    if (!rest.empty()) trace("   ignored: " + HexText(rest));
    Bytes answer;
    int delayMs = 0;
    if (answerFor(node, taken, Framing::Tcp, answer, delayMs)) {
        schedule(line, node, std::move(answer), milliseconds(delayMs), arrived);
    }
}

bool Simulator::answerFor(int node, const Bytes& request, Framing framing, Bytes& answer,
                          int& delayMs) {
    // The PDU follows the node of an RTU frame or the MBAP header.
    const std::size_t pdu = framing == Framing::Rtu ? 1 : 7;
    const int function = request[pdu];
    const auto table = TableOfFunction(function);
    const bool ranged = table && request.size() >= pdu + 5;
    const auto address =
        static_cast<std::uint16_t>(ranged ? (request[pdu + 1] << 8) | request[pdu + 2] : 0);
    const int quantity = ranged ? QuantityOf(request, pdu) : 1;
    const FaultSet faults = FaultsFor(plant_, node, table, address, quantity);
    if (faults.silent) {
        trace("   no answer: fault silent");
        return false;
    }
    if (faults.exception) {
        const auto code = static_cast<std::uint8_t>(*faults.exception);
        answer = framing == Framing::Rtu
                     ? ExceptionAnswer(static_cast<std::uint8_t>(node),
                                       static_cast<std::uint8_t>(function), code)
                     : MbapExceptionAnswer(request, code);
    } else if (function == 0x2B) {
        answer = DeviceIdFrame(plant_.nodes.at(node), request, pdu, framing);
    } else if (function == 8 && !faults.noDiagnostics && request.size() >= pdu + 3 &&
               request[pdu + 1] == 0 && request[pdu + 2] == 0) {
        answer = request;  // Return Query Data: the echo
    } else {
        if (table && function <= 4) refreshLive(node, *table, address, quantity);
        answer = (framing == Framing::Rtu ? bridge_ : tcpBridge_)
                     .reply(request, mappings_.at(node).get());
    }
    answer = framing == Framing::Rtu ? DamageAnswer(std::move(answer), faults)
                                     : DamageMbapAnswer(std::move(answer), faults);
    delayMs = faults.delayMs;
    if (answer.empty()) trace("   no answer");
    return !answer.empty();
}

void Simulator::refreshLive(int node, Table table, std::uint16_t address, int quantity) {
    const NodeMap& map = plant_.nodes.at(node);
    modbus_mapping_t* mapping = mappings_.at(node).get();
    const auto now = std::chrono::steady_clock::now();
    // High words first: a low word in the same request belongs to the same value.
    for (bool lowWords : {false, true}) {
        for (const auto& item : map.live) {
            if (item.table != table || item.address < address ||
                item.address >= address + quantity ||
                (item.kind == LiveKind::EnergyLow) != lowWords) {
                continue;
            }
            Store(mapping, table, item.address, liveValue(node, map, item, now));
        }
    }
}

std::uint16_t Simulator::liveValue(int node, const NodeMap& map, const LiveRegister& item,
                                   SteadyTime now) {
    switch (item.kind) {
        case LiveKind::Voltage:
            return live_.voltage(item.centre, item.spread);
        case LiveKind::Power:
            return live_.power(map.peakPower);
        case LiveKind::EnergyHigh:
            return live_.counterHigh(node, map, now);
        case LiveKind::EnergyLow:
            return live_.counterLow(node, map, now);
        case LiveKind::Status:
            return live_.producing(map.peakPower) ? 1 : 0;
    }
    return 0;
}

// A node answers its requests on a line in turn: it takes up a request
// only once its answer to an earlier request on the same line has left,
// however long that one is delayed.
void Simulator::schedule(int line, int node, Bytes answer, microseconds after, SteadyTime arrived) {
    SteadyTime start = arrived;
    for (const Outgoing& earlier : outgoing_)
        if (earlier.line == line && earlier.node == node) start = std::max(start, earlier.due);
    const SteadyTime due = start + after;
    auto at =
        std::upper_bound(outgoing_.begin(), outgoing_.end(), due,
                         [](SteadyTime when, const Outgoing& item) { return when < item.due; });
    outgoing_.insert(at, Outgoing{due, line, node, std::move(answer)});
}

microseconds Simulator::wireTime(std::size_t bytes) const {
    if (options_.baud <= 0) return microseconds(0);
    return microseconds(static_cast<long long>(bytes) * options_.bitsPerByte * 1000000LL /
                        options_.baud);
}

void Simulator::log(const std::string& text) const {
    std::fprintf(stderr, "tarvel-sim: %s\n", text.c_str());
}

void Simulator::trace(const std::string& text) const {
    if (!options_.verbose) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    std::fprintf(stderr, "[%10.3f] %s\n", seconds, text.c_str());
}

}  // namespace tarvel::sim
