#pragma once
// The one serial line. Settings are given to the closed port and take effect
// when it opens, like the port control the program was designed around. The
// line may also be a network port that carries its frames (an Ethernet
// gateway); the line settings do not apply to it.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace tarvel {

using Bytes = std::vector<std::uint8_t>;
// Bytes looked at where they stand.
using ByteView = std::span<const std::uint8_t>;

// Line settings as the port applies them; the settings text is read by the
// logic.
enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
    bool operator==(const LineSettings&) const = default;
};

enum class Handshake { None = 0, XonXoff = 1, RtsCts = 2, RtsCtsXonXoff = 3 };

// What carries the line: a serial device, a TCP connection with the bytes
// of the serial line, or a TCP connection in the Modbus TCP framing.
enum class LinkKind { Serial, RtuOverTcp, ModbusTcp };

// Why the port could not be opened (or, without opening it, would not be).
enum class PortFault {
    None,
    NoDevice,       // nothing at the device path
    NotCharDevice,  // something that is no terminal device
    AccessDenied,   // this user may not read and write it
    InUse,          // another program holds it
    NoConnection,   // a network port that could not be reached
    Other,          // any other failure: see the system's words
};

struct PortError {
    PortFault fault = PortFault::None;
    std::string device;       // the device path, when one was involved
    std::string systemError;  // the system's words, when it gave some
    std::string group;        // AccessDenied: the group that owns the device
};

class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // COM number, 1 and up; false when the number is impossible.
    virtual bool setPortNumber(int number) = 0;
    virtual int portNumber() const = 0;
    // False when the port cannot apply them (nothing changes then).
    virtual bool setSettings(const LineSettings& settings) = 0;
    // What the port accepted.
    virtual LineSettings settings() const = 0;
    virtual void setHandshake(Handshake handshake) = 0;
    virtual void setNullDiscard(bool on) = 0;
    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;

    // What the current port number names, and for a network port its
    // "host:port".
    virtual LinkKind linkKind() const { return LinkKind::Serial; }
    virtual std::string linkAddress() const { return {}; }
    // The longest a network port's opening may take, name lookup included.
    virtual void setConnectTimeout(Millis) {}

    // Opening a missing device, or one that another program holds, fails.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // True once the device went away while open (a USB adapter unplugged).
    virtual bool deviceLost() const = 0;

    // Empties the receive buffer; does not fail on a closed port.
    virtual void discardInput() = 0;
    virtual std::size_t bytesWaiting() = 0;
    // False when the port is closed or the write failed.
    virtual bool write(const Bytes& bytes) = 0;
    // Every byte waiting, removed from the buffer; nothing when none wait.
    virtual Bytes readAll() = 0;
    // The same at the end of `bytes`. A port may hand its buffer over to an
    // empty `bytes` and keep the room `bytes` had: no allocation per read.
    virtual void readAllInto(Bytes& bytes) {
        const Bytes fresh = readAll();
        bytes.insert(bytes.end(), fresh.begin(), fresh.end());
    }
    // Lets events run while it waits, without spinning, until new bytes
    // arrive, the device is lost, or the deadline passes.
    virtual void waitForInput(TimePoint deadline) = 0;

    // Text of the last error, for messages.
    virtual std::string errorText() const = 0;
    // Why the last opening failed.
    virtual PortError openError() const {
        return {PortFault::Other, {}, errorText(), {}};
    }
};

}  // namespace tarvel
