#pragma once
// A serial port with a scripted device on the other end, in virtual time.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "modbus/ImpostazioniLinea.h"
#include "platform/SerialPort.h"

namespace tarvel::fakes {

// Bytes the device sends back, some time after the request was written.
struct Delivery {
    Millis delay{5};
    Bytes bytes;
};

// Answers a request frame with zero or more deliveries.
using Device = std::function<std::vector<Delivery>(const Bytes& request)>;

class FakeSerialPort : public SerialPort {
  public:
    explicit FakeSerialPort(FakeClock& clock) : clock_(clock) {}

    bool setPortNumber(int number) override;
    int portNumber() const override { return port_; }
    bool setSettings(const std::string& text) override;
    std::string settings() const override { return TestoImpostazioniLinea(line_); }
    void setHandshake(Handshake handshake) override { handshake_ = handshake; }
    void setNullDiscard(bool on) override { nullDiscard_ = on; }
    void setDtr(bool on) override { dtr_ = on; }
    void setRts(bool on) override { rts_ = on; }
    bool open() override;
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool deviceLost() const override { return open_ && lost_; }
    void discardInput() override;
    std::size_t bytesWaiting() override;
    bool write(const Bytes& bytes) override;
    Bytes readAll() override;
    void waitForInput(TimePoint deadline) override;
    std::string errorText() const override { return error_; }

    // Test controls.
    void setDevice(Device device) { device_ = std::move(device); }
    // Ports that do not exist (open fails) and the highest valid number.
    std::vector<int> missingPorts;
    int highestPort = 99;
    // The device goes away while the port is open; plugging it back lets the
    // port open again.
    void unplug() {
        lost_ = true;
        pending_.clear();
    }
    void plug() { lost_ = false; }
    // Bytes that arrive at a given time whatever was asked.
    void deliverAt(TimePoint when, Bytes bytes) { pending_.push_back({when, std::move(bytes)}); }

    const std::vector<Bytes>& written() const { return written_; }
    Handshake handshake() const { return handshake_; }
    bool nullDiscard() const { return nullDiscard_; }
    bool dtr() const { return dtr_; }
    bool rts() const { return rts_; }
    int openCount() const { return opens_; }
    int waits() const { return waits_; }

  private:
    struct Pending {
        TimePoint when;
        Bytes bytes;
    };
    void collectArrived();

    FakeClock& clock_;
    Device device_;
    int port_ = 1;
    ImpostazioniLinea line_;
    Handshake handshake_ = Handshake::None;
    bool nullDiscard_ = false, dtr_ = false, rts_ = false;
    bool open_ = false;
    bool lost_ = false;
    int opens_ = 0;
    int waits_ = 0;
    std::string error_;
    std::vector<Pending> pending_;
    Bytes buffer_;
    std::vector<Bytes> written_;
};

// A device with a register map that answers function 1 to 4 reads of one
// item correctly, built on the frame code under test only for its CRC.
struct ScriptedDevice {
    std::uint8_t node = 1;
    std::map<std::pair<int, int>, std::uint16_t> values;  // (function, address) -> value
    Millis delay{5};
    bool silent = false;
    std::optional<std::uint8_t> exception;
    bool badCrc = false;
    bool wrongNode = false;
    int partialBytes = 0;  // send only this many bytes of the answer
    bool strayByte = false;
    int requests = 0;

    std::vector<Delivery> operator()(const Bytes& request);
};

}  // namespace tarvel::fakes
