#include "FakeSerialPort.h"

#include <algorithm>

#include "modbus/Trama.h"

namespace tarvel::fakes {

bool FakeSerialPort::setPortNumber(int number) {
    if (number < 1 || number > highestPort) {
        error_ = "invalid port number";
        return false;
    }
    port_ = number;
    return true;
}

bool FakeSerialPort::setSettings(const std::string& text) {
    auto parsed = LeggiImpostazioniLinea(text);
    if (!parsed) {
        error_ = "invalid settings";
        return false;
    }
    line_ = *parsed;
    return true;
}

bool FakeSerialPort::open() {
    if (open_) {
        error_ = "port already open";
        return false;
    }
    if (lost_ || std::find(missingPorts.begin(), missingPorts.end(), port_) != missingPorts.end()) {
        error_ = "No such file or directory";
        return false;
    }
    open_ = true;
    ++opens_;
    return true;
}

void FakeSerialPort::discardInput() {
    collectArrived();
    buffer_.clear();
}

void FakeSerialPort::collectArrived() {
    if (!open_ || lost_) return;
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Pending& a, const Pending& b) { return a.when < b.when; });
    auto now = clock_.now();
    while (!pending_.empty() && pending_.front().when <= now) {
        for (std::uint8_t b : pending_.front().bytes)
            if (!(nullDiscard_ && b == 0)) buffer_.push_back(b);
        pending_.erase(pending_.begin());
    }
}

std::size_t FakeSerialPort::bytesWaiting() {
    collectArrived();
    return buffer_.size();
}

bool FakeSerialPort::write(const Bytes& bytes) {
    if (!open_ || lost_) {
        error_ = "port not open";
        return false;
    }
    written_.push_back(bytes);
    if (device_)
        for (auto& d : device_(bytes)) pending_.push_back({clock_.now() + d.delay, d.bytes});
    return true;
}

Bytes FakeSerialPort::readAll() {
    collectArrived();
    Bytes out;
    out.swap(buffer_);
    return out;
}

void FakeSerialPort::waitForInput(TimePoint deadline) {
    ++waits_;
    TimePoint until = deadline;
    if (open_ && !lost_)
        for (const auto& p : pending_) until = std::min(until, std::max(p.when, clock_.now()));
    clock_.advanceTo(until);
}

std::vector<Delivery> ScriptedDevice::operator()(const Bytes& request) {
    ++requests;
    if (silent || request.size() != 8 || request[0] != node) return {};
    int function = request[1];
    int address = (request[2] << 8) | request[3];
    Bytes answer{wrongNode ? static_cast<std::uint8_t>(node + 1) : node,
                 static_cast<std::uint8_t>(function)};
    if (exception) {
        answer[1] |= 0x80;
        answer.push_back(*exception);
    } else {
        std::uint16_t value = values.count({function, address}) ? values[{function, address}] : 0;
        if (function <= 2) {
            answer.push_back(1);
            answer.push_back(static_cast<std::uint8_t>(value & 0xFF));
        } else {
            answer.push_back(2);
            answer.push_back(static_cast<std::uint8_t>(value >> 8));
            answer.push_back(static_cast<std::uint8_t>(value & 0xFF));
        }
    }
    std::uint16_t crc = CalcolaCRC(answer);
    if (badCrc) crc ^= 0x0101;
    answer.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    answer.push_back(static_cast<std::uint8_t>(crc >> 8));
    if (partialBytes > 0) answer.resize(static_cast<std::size_t>(partialBytes));
    if (strayByte) answer.insert(answer.begin(), 0x5A);
    return {{delay, answer}};
}

}  // namespace tarvel::fakes
