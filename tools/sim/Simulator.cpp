#include "Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "Answers.h"
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

// Quantity of items a request works on (function codes with a table).
int QuantityOf(const Bytes& request) {
    const int function = request[1];
    if (function == 5 || function == 6) return 1;
    return (request[4] << 8) | request[5];
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
    // A test that stops reading the pty must not end the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    if (!SignalPipe::Install({SIGTERM, SIGINT, SIGUSR1}) || !bridge_.open(error)) {
        log(error.empty() ? std::string("signal set-up failed") : error);
        return false;
    }
    if (!loadMap()) return false;
    if (!options_.control.empty() && !control_.create(options_.control, error)) {
        log(error);
        return false;
    }
    return plug();
}

void Simulator::tearDown() {
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
    std::printf("%s\n", pty_.slavePath().c_str());
    std::fflush(stdout);
    log("plugged in at " + pty_.slavePath());
    return true;
}

void Simulator::unplug() {
    if (!pty_.isOpen()) return;
    pty_.close();
    if (!options_.link.empty()) RemoveLink(options_.link);
    incoming_.clear();
    outgoing_.clear();
    log("unplugged");
}

void Simulator::serve() {
    while (!stopping_) {
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {SignalPipe::fd(), POLLIN, 0};
        const int controlAt = control_.fd() >= 0 ? static_cast<int>(count) : -1;
        if (controlAt >= 0) fds[count++] = {control_.fd(), POLLIN, 0};
        const int ptyAt = pty_.isOpen() ? static_cast<int>(count) : -1;
        if (ptyAt >= 0) fds[count++] = {pty_.master(), POLLIN, 0};

        if (::poll(fds, count, pollTimeout(std::chrono::steady_clock::now())) < 0 &&
            errno != EINTR) {
            log(std::string("poll: ") + std::strerror(errno));
            return;
        }
        // The pty is read before commands run, while it is the one polled.
        if (ptyAt >= 0 && fds[ptyAt].revents != 0) readPty(std::chrono::steady_clock::now());
        if (fds[0].revents != 0) readSignals();
        if (controlAt >= 0 && fds[controlAt].revents != 0) {
            for (const auto& line : control_.readLines()) runCommand(line);
        }
        const auto now = std::chrono::steady_clock::now();
        if (!incoming_.empty() && now - lastByte_ >= kMinimumGap) {
            Bytes frame;
            frame.swap(incoming_);
            handleFrame(frame, lastByte_);
        }
        sendDue(std::chrono::steady_clock::now());
    }
}

int Simulator::pollTimeout(SteadyTime now) const {
    std::optional<SteadyTime> next;
    if (!incoming_.empty()) next = lastByte_ + kMinimumGap;
    if (!outgoing_.empty()) {
        next = next ? std::min(*next, outgoing_.front().due) : outgoing_.front().due;
    }
    if (!next) return -1;
    const auto wait = std::chrono::ceil<milliseconds>(*next - now).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, INT_MAX));
}

void Simulator::readPty(SteadyTime now) {
    std::uint8_t buffer[512];
    ssize_t count;
    while ((count = ::read(pty_.master(), buffer, sizeof buffer)) > 0) {
        incoming_.insert(incoming_.end(), buffer, buffer + count);
        lastByte_ = now;
    }
    if (count < 0 && errno != EAGAIN && errno != EINTR) {
        log(std::string("pty: ") + std::strerror(errno));
        unplug();
        return;
    }
    // A line that never falls silent still gets its frames looked at.
    if (incoming_.size() >= MODBUS_RTU_MAX_ADU_LENGTH) {
        Bytes frame;
        frame.swap(incoming_);
        handleFrame(frame, now);
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
    } else {
        log("unknown command '" + command + "'");
    }
}

void Simulator::sendDue(SteadyTime now) {
    while (!outgoing_.empty() && outgoing_.front().due <= now) {
        const Bytes bytes = std::move(outgoing_.front().bytes);
        outgoing_.erase(outgoing_.begin());
        if (!pty_.isOpen()) continue;
        if (::write(pty_.master(), bytes.data(), bytes.size()) < 0) {
            log(std::string("pty write: ") + std::strerror(errno));
        }
        trace("tx " + HexText(bytes));
    }
}

void Simulator::handleFrame(const Bytes& frame, SteadyTime arrived) {
    trace("rx " + HexText(frame));
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
        const Bytes request = bridge_.receive(static_cast<std::uint8_t>(node), taken, rest, error);
        if (request.empty()) {
            trace("   no answer: " + error);
            continue;
        }
        Bytes answer;
        int delayMs = 0;
        if (answerFor(node, request, answer, delayMs)) {
            schedule(node, std::move(answer), request.size(), delayMs, arrived);
        }
    }
    if (!rest.empty()) trace("   ignored: " + HexText(rest));
}

bool Simulator::answerFor(int node, const Bytes& request, Bytes& answer, int& delayMs) {
    const int function = request[1];
    const auto table = TableOfFunction(function);
    const auto address = static_cast<std::uint16_t>((request[2] << 8) | request[3]);
    const int quantity = table && request.size() >= 8 ? QuantityOf(request) : 1;
    const FaultSet faults = FaultsFor(plant_, node, table, address, quantity);
    if (faults.silent) {
        trace("   no answer: fault silent");
        return false;
    }
    if (faults.exception) {
        answer =
            ExceptionAnswer(static_cast<std::uint8_t>(node), static_cast<std::uint8_t>(function),
                            static_cast<std::uint8_t>(*faults.exception));
    } else {
        if (table && function <= 4) refreshLive(node, *table, address, quantity);
        answer = bridge_.reply(request, mappings_.at(node).get());
    }
    answer = DamageAnswer(std::move(answer), faults);
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

// A node answers its requests in turn: an answer never leaves before the
// node's answer to an earlier request, however long that one is delayed.
void Simulator::schedule(int node, Bytes answer, std::size_t requestBytes, int delayMs,
                         SteadyTime arrived) {
    SteadyTime due = arrived + milliseconds(delayMs) + wireTime(requestBytes + answer.size());
    for (const Outgoing& earlier : outgoing_)
        if (earlier.node == node) due = std::max(due, earlier.due);
    auto at =
        std::upper_bound(outgoing_.begin(), outgoing_.end(), due,
                         [](SteadyTime when, const Outgoing& item) { return when < item.due; });
    outgoing_.insert(at, Outgoing{due, node, std::move(answer)});
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
