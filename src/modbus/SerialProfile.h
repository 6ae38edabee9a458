#pragma once
// A serial profile: the keys of one "Serial_n" section of the settings, read
// and checked into a plain value, and the step that applies it to the master.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/SerialPort.h"

namespace tarvel {

class MBus;

struct SerialProfile {
    std::string com;       // as written, upper case: the port number's text
    std::string settings;  // as written, upper case: "9600,N,8,1"
    int handshaking = 0;   // 0 to 3
    bool nullDiscard = false;
    bool dtr = false;
    bool rts = false;
    std::int32_t timeOutMs = 800;
    std::int32_t retry = 1;
    // Pause between two lines of a cycle, 0 to 60000 ms.
    std::int32_t pauseMs = 200;
    // The profile sets its own pause: every request then follows the line's
    // last activity only after the silence that ends an RTU frame.
    bool pauseSet = false;
    // Failed reads of one node in a row after which its other lines of the
    // cycle are skipped; 0: never.
    std::int32_t skipAfter = 0;
    // The most items one request may read for several lines (registers
    // capped at 125); 0: every line its own request.
    std::int32_t block = 0;
    // The most addresses in a row that no line asks for inside a block.
    std::int32_t gap = 0;
    // An RS-485 adapter that gives back what it sends: each request's own
    // bytes are read back before its answer.
    bool echo = false;
    // Modbus TCP: how many read requests may be out at once, 1 to 16.
    std::int32_t window = 1;

    bool operator==(const SerialProfile&) const = default;
};

// Why a profile cannot be used.
enum class ProfileErrorCause : std::uint8_t {
    None,
    MissingKey,   // COM or Settings absent or empty
    InvalidValue,  // a key whose value is not a number in its range
    PortRefused,   // the port refused the number or the line settings
    PortNotOpened,   // the device could not be opened
    OutOfRange,  // a serial line names no profile number
};

struct ProfileError {
    ProfileErrorCause cause = ProfileErrorCause::None;
    std::string key;     // the key at fault, when one is
    std::string value;     // its value as written
    std::string detail;  // the port's own reason, when it gave one
    PortError port;        // PortNotOpened: why
};

// Reads one key of the section: key, default -> the value as written.
using KeyReader = std::function<std::string(const char* key, const char* fallback)>;

struct ProfileRead {
    std::optional<SerialProfile> profile;
    ProfileError error;  // when there is no profile
};

// Reads and checks every key; touches nothing.
ProfileRead ReadProfile(const KeyReader& read);

// Configures the closed port and the master from the profile and checks
// that the port took each value as written. Does not open the port.
ProfileError ConfigureProfile(MBus& mbus, const SerialProfile& profile);

// The six status-bar panels that show an applied profile; on a network
// port (`network`, "tcp host:port") it stands for the line settings, which do
// not apply, nor do the handshaking and the modem lines.
std::array<std::string, 6> ProfilePanels(const SerialProfile& profile,
                                           const std::string& network = {});

// Why a device could not be opened, in Italian.
std::string DescribePortError(const PortError& error);

// The cause in Italian, naming the section and the key: for messages.
std::string DescribeProfileError(const std::string& section, const ProfileError& error);

}  // namespace tarvel
