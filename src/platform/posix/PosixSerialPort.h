#pragma once
// The serial line on the device's descriptor and termios, or on a TCP
// socket when the device text names a network port. Settings are kept
// while the port is closed and applied when it opens; received bytes pass
// through an internal buffer that drops zero bytes when the filter is on.
// The device is taken exclusively, and a device that goes away while open
// (an adapter unplugged, a hung-up terminal, a connection closed by the
// gateway) is noticed in one place and released. Waits block in poll(2) on
// the descriptor, and on one more descriptor when asked.

#include <functional>
#include <string>

#include "platform/SerialPort.h"
#include "platform/posix/TcpConnection.h"

namespace tarvel {

// Gives the device behind a COM number ("/dev/ttyUSB0"); empty when none.
using ComDeviceResolver = std::function<std::string(int com)>;

// COM n is /dev/ttyS(n-1), as Windows programs on Linux see it.
std::string DefaultComDevice(int com);

class PosixSerialPort : public SerialPort {
  public:
    explicit PosixSerialPort(ComDeviceResolver resolver = DefaultComDevice);
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool setPortNumber(int number) override;
    int portNumber() const override { return number_; }
    bool setSettings(const LineSettings& line) override;
    LineSettings settings() const override { return line_; }
    void setHandshake(Handshake handshake) override { handshake_ = handshake; }
    void setNullDiscard(bool on) override { nullDiscard_ = on; }
    void setDtr(bool on) override { dtr_ = on; }
    void setRts(bool on) override { rts_ = on; }

    LinkKind linkKind() const override;
    std::string linkAddress() const override;
    void setConnectTimeout(Millis limit) override;
    // The name lookup of network ports: getaddrinfo(3) unless given.
    void setNameLookup(NameLookup lookup) { lookup_ = lookup; }

    bool open() override;
    void close() override;
    [[gnu::hot]] bool isOpen() const override { return open_; }
    bool deviceLost() const override { return open_ && lost_; }

    void discardInput() override;
    std::size_t bytesWaiting() override;
    bool write(const Bytes& bytes) override;
    Bytes readAll() override;
    void readAllInto(Bytes& bytes) override;
    void waitForInput(TimePoint deadline) override;

    std::string errorText() const override { return error_; }
    PortError openError() const override { return openError_; }

    // What opening the device would find, without opening or locking it:
    // that it exists, is a terminal device and that this user may read and
    // write it. False, with the cause as the open error, when it would fail.
    bool checkDevice();

    // The device the current port number names.
    std::string devicePath() const;

    // A second descriptor that a wait watches too (a signal pipe): when it
    // becomes readable, `onReadable` runs, which must drain it, and the
    // wait returns. -1 watches nothing more.
    void watchAlso(int fd, std::function<void()> onReadable);

  private:
    // True when the device holds bytes not yet taken in.
    bool inputPending() const;
    // Takes in every byte the device holds; notices a device that went away.
    void takeIn();
    bool openNetwork(const std::string& device);
    bool configure();
    void applyModemLines();
    bool hungUp() const;
    void markLost(const std::string& reason);
    void release();
    void fail(const std::string& text) { error_ = text; }
    bool failOpen(PortError error);

    ComDeviceResolver resolver_;
    int fd_ = -1;
    int number_ = 1;
    LineSettings line_;
    Handshake handshake_ = Handshake::None;
    bool nullDiscard_ = false;
    bool dtr_ = false;
    bool rts_ = false;
    bool open_ = false;
    bool lost_ = false;
    bool socket_ = false;  // open on a network port
    Millis connectTimeout_{800};
    NameLookup lookup_ = nullptr;
    // A network device's name is looked up here; joined when the port goes.
    LookupThread lookups_;
    Bytes buffer_;
    bool tookInByWait_ = false;  // the last wait read the device's bytes in
    std::string error_;
    PortError openError_;
    int alsoFd_ = -1;
    std::function<void()> onAlsoReadable_;
};

}  // namespace tarvel
