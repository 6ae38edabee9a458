#pragma once
// The serial line on Qt SerialPort. Settings are kept while the port is
// closed and applied when it opens; received bytes pass through an internal
// buffer that drops zero bytes when the filter is on. The device is taken
// exclusively, and a device that goes away while open (an adapter unplugged,
// a hung-up terminal) is noticed without spinning and released.

#include <functional>
#include <memory>
#include <string>

#include "modbus/ImpostazioniLinea.h"
#include "settings/ProfileStore.h"
#include "platform/SerialPort.h"

class QSerialPort;
class QTimer;

namespace tarvel {

// Gives the device behind a COM number ("/dev/ttyUSB0"); empty when none.
using ComDeviceResolver = std::function<std::string(int com)>;

// COM n is /dev/ttyS(n-1), as Windows programs on Linux see it.
std::string DefaultComDevice(int com);

// Key "COM" + n of section "Ports" in the settings file, or the default.
// The store must outlive the resolver.
ComDeviceResolver ComDeviceFromSettings(ProfileStore& store, std::string settingsFile);

class QtSerialPort : public SerialPort {
  public:
    explicit QtSerialPort(ComDeviceResolver resolver = DefaultComDevice);
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    bool setPortNumber(int number) override;
    int portNumber() const override { return number_; }
    bool setSettings(const std::string& text) override;
    std::string settings() const override { return TestoImpostazioniLinea(line_); }
    void setHandshake(Handshake handshake) override { handshake_ = handshake; }
    void setNullDiscard(bool on) override { nullDiscard_ = on; }
    void setDtr(bool on) override { dtr_ = on; }
    void setRts(bool on) override { rts_ = on; }

    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool deviceLost() const override { return open_ && lost_; }

    void discardInput() override;
    std::size_t bytesWaiting() override;
    bool write(const Bytes& bytes) override;
    Bytes readAll() override;
    void waitForInput(TimePoint deadline) override;

    std::string errorText() const override { return error_; }

    // The device the current port number names.
    std::string devicePath() const;

  private:
    bool live() const;
    bool openDevice(const std::string& path);
    bool takeExclusively();
    void applyModemLines();
    void applyBothHandshakes();
    void onPortError(int code);
    bool hungUp() const;
    void checkHangUp();
    void markLost(const std::string& reason);
    void releaseHandle();
    void pullReceived();
    void fail(const std::string& text) { error_ = text; }

    ComDeviceResolver resolver_;
    std::unique_ptr<QSerialPort> port_;
    std::unique_ptr<QTimer> waitTimer_;
    bool waitOver_ = false;    // bytes came or the device went: the wait can end
    bool timerFired_ = false;  // the wait's timer fired: check the deadline
    int number_ = 1;
    ImpostazioniLinea line_;
    Handshake handshake_ = Handshake::None;
    bool nullDiscard_ = false;
    bool dtr_ = false;
    bool rts_ = false;
    bool open_ = false;
    bool lost_ = false;
    Bytes buffer_;
    std::string error_;
};

}  // namespace tarvel
