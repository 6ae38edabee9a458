#pragma once
// A serial port with a scripted device on the other end, in virtual time.

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FakeClock.h"
#include "modbus/Frame.h"
#include "platform/SerialPort.h"

namespace tarvel::fakes {

// Bytes the device sends back, some time after the request was written (or
// after the device's answers to earlier requests, when they are later).
struct Delivery {
    std::chrono::microseconds delay{5000};
    Bytes bytes;
};

// Answers a request frame with zero or more deliveries.
using Device = std::function<std::vector<Delivery>(const Bytes& request)>;

class FakeSerialPort : public SerialPort {
  public:
    explicit FakeSerialPort(FakeClock& clock) : clock_(clock) {}

    bool setPortNumber(int number) override {
        if (number < 1 || number > 255) return fail("invalid port number");
        port_ = number;
        return true;
    }
    int portNumber() const override { return port_; }
    // What carries the line: a serial device unless a test says otherwise.
    LinkKind link = LinkKind::Serial;
    LinkKind linkKind() const override { return link; }
    bool setSettings(const LineSettings& line) override {
        line_ = line;
        return true;
    }
    LineSettings settings() const override { return line_; }
    void setHandshake(Handshake handshake) override { handshake_ = handshake; }
    void setNullDiscard(bool on) override { nullDiscard_ = on; }
    void setDtr(bool on) override { dtr_ = on; }
    void setRts(bool) override {}
    bool open() override {
        if (open_) return fail("port already open");
        if (lost_ || std::count(missingPorts.begin(), missingPorts.end(), port_) > 0)
            return fail("No such file or directory");
        ++opens_;
        return open_ = true;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool deviceLost() const override { return open_ && lost_; }
    void discardInput() override { readAll(); }
    std::size_t bytesWaiting() override {
        collectArrived();
        return buffer_.size();
    }
    // An open port that refuses every write, as a failing adapter does.
    bool refuseWrites = false;
    bool write(const Bytes& bytes) override {
        if (!open_ || lost_) return fail("port not open");
        if (refuseWrites) return fail("Input/output error");
        written_.push_back(bytes);
        if (!device_) return true;
        // A device answers in turn: its answers to a request leave after
        // those to the requests before it, however late they are.
        const TimePoint start = std::max(clock_.now(), lastDue_);
        for (auto& d : device_(bytes)) {
            pending_.emplace(start + d.delay, d.bytes);
            lastDue_ = std::max(lastDue_, start + d.delay);
        }
        return true;
    }
    Bytes readAll() override {
        collectArrived();
        return std::exchange(buffer_, {});
    }
    void waitForInput(TimePoint deadline) override {
        const bool arriving = open_ && !lost_ && !pending_.empty();
        clock_.advanceTo(arriving
                             ? std::min(deadline, std::max(pending_.begin()->first, clock_.now()))
                             : deadline);
    }
    std::string errorText() const override { return error_; }

    // Test controls.
    void setDevice(Device device) { device_ = std::move(device); }
    // Ports that do not exist: opening them fails.
    std::vector<int> missingPorts;
    // The device goes away while the port is open; plugging it back lets the
    // port open again.
    void unplug() {
        lost_ = true;
        pending_.clear();
    }
    void plug() { lost_ = false; }

    const std::vector<Bytes>& written() const { return written_; }
    Handshake handshake() const { return handshake_; }
    bool nullDiscard() const { return nullDiscard_; }
    bool dtr() const { return dtr_; }
    int openCount() const { return opens_; }

  private:
    bool fail(const char* why) {
        error_ = why;
        return false;
    }
    // Moves what has arrived by now into the receive buffer.
    void collectArrived() {
        if (!open_ || lost_) return;
        while (!pending_.empty() && pending_.begin()->first <= clock_.now()) {
            for (std::uint8_t b : pending_.begin()->second)
                if (!(nullDiscard_ && b == 0)) buffer_.push_back(b);
            pending_.erase(pending_.begin());
        }
    }

    FakeClock& clock_;
    Device device_;
    LineSettings line_;
    Handshake handshake_ = Handshake::None;
    bool nullDiscard_ = false, dtr_ = false, open_ = false, lost_ = false;
    int port_ = 1, opens_ = 0;
    std::string error_;
    std::multimap<TimePoint, Bytes> pending_;  // by arrival, in order of sending
    TimePoint lastDue_{};
    Bytes buffer_;
    std::vector<Bytes> written_;
};

// A device with a register map that answers reads of function 1 to 4 of
// any number of items, laid out as the Modbus answers have them (coils
// packed eight to a byte from the lowest bit, registers high byte first),
// built on the frame code under test only for its CRC.
struct ScriptedDevice {
    std::uint8_t node = 1;                                  // 0: answers every node
    std::map<std::pair<int, int>, std::uint16_t> values{};  // (function, address) -> value
    std::chrono::microseconds delay{5000};
    bool silent = false;
    std::optional<std::uint8_t> exception{};
    bool badCrc = false;
    bool wrongNode = false;
    int partialBytes = 0;  // send only this many bytes of the answer
    int requests = 0;
    bool refuseBlocks = false;  // exception 2 to any read of more than one item
    // Function 8 (diagnostics) is answered with the request's echo; without,
    // with exception 1, as a device that has no diagnostics.
    bool diagnostics = true;

    std::vector<Delivery> operator()(const Bytes& request) {
        ++requests;
        if (silent || request.size() != 8 || (node != 0 && request[0] != node)) return {};
        const int function = request[1], address = (request[2] << 8) | request[3];
        const int count = request[4] << 8 | request[5];
        if (function == 8 && diagnostics) return {{delay, request}};
        Bytes answer{static_cast<std::uint8_t>(request[0] + (wrongNode ? 1 : 0)), request[1]};
        if (function == 8) {
            answer[1] |= 0x80;
            answer.push_back(1);
        } else if (exception || (refuseBlocks && count > 1)) {
            answer[1] |= 0x80;
            answer.push_back(exception.value_or(2));
        } else if (function <= 2) {
            Bytes bits(static_cast<std::size_t>((count + 7) / 8), 0);
            for (int i = 0; i < count; ++i)
                if (values[{function, address + i}] != 0)
                    bits[static_cast<std::size_t>(i / 8)] |=
                        static_cast<std::uint8_t>(1 << (i % 8));
            answer.push_back(static_cast<std::uint8_t>(bits.size()));
            answer.insert(answer.end(), bits.begin(), bits.end());
        } else {
            answer.push_back(static_cast<std::uint8_t>(2 * count));
            for (int i = 0; i < count; ++i) {
                const std::uint16_t v = values[{function, address + i}];
                answer.insert(answer.end(), {static_cast<std::uint8_t>(v >> 8),
                                             static_cast<std::uint8_t>(v & 0xFF)});
            }
        }
        std::uint16_t crc = CalcolaCRC(answer);
        if (badCrc) crc ^= 0x0101;
        answer.insert(answer.end(),
                      {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)});
        if (partialBytes > 0) answer.resize(static_cast<std::size_t>(partialBytes));
        return {{delay, answer}};
    }
};

}  // namespace tarvel::fakes
