#include "platform/posix/PosixSerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>
#include <utility>

#include "platform/posix/BaudRate.h"
#include "platform/posix/TcpConnection.h"

namespace tarvel {
namespace {

constexpr int HighestPortNumber = 255;
// How long a write may wait for a device that does not take bytes (flow
// control held) before it fails.
constexpr int WriteStallMs = 1000;
const char* const DeviceGone = "Device disappeared from the system";
const char* const ConnectionClosed = "Connection closed by the other end";
// A time-out of 0 asks for no answer wait, not for a connection that can
// never be made.
constexpr Millis ShortestConnect{100};

struct Speed {
    int baud;
    speed_t constant;
};
constexpr std::array<Speed, 19> StandardSpeeds = {{
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
}};

bool StandardSpeed(int baud, speed_t& constant) {
    for (const Speed& s : StandardSpeeds) {
        if (s.baud == baud) {
            constant = s.constant;
            return true;
        }
    }
    return false;
}

tcflag_t DataBitsFlag(int bits) {
    switch (bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

tcflag_t ParityFlags(Parity parity) {
    switch (parity) {
        case Parity::Even:
            return PARENB;
        case Parity::Odd:
            return PARENB | PARODD;
        case Parity::Mark:
            return PARENB | PARODD | CMSPAR;
        case Parity::Space:
            return PARENB | CMSPAR;
        case Parity::None:
            break;
    }
    return 0;
}

bool UsesRtsLine(Handshake handshake) {
    return handshake == Handshake::RtsCts || handshake == Handshake::RtsCtsXonXoff;
}

bool UsesXonXoff(Handshake handshake) {
    return handshake == Handshake::XonXoff || handshake == Handshake::RtsCtsXonXoff;
}

// The errors of a descriptor whose device has gone.
bool DeviceGoneError(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

int MillisUntil(TimePoint deadline) {
    auto ms = std::chrono::ceil<Millis>(deadline - std::chrono::steady_clock::now()).count();
    return ms <= 0 ? 0 : static_cast<int>(ms > INT_MAX ? INT_MAX : ms);
}

// The name of the group that owns a device ("dialout"); its number when it
// has no name.
std::string GroupOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::array<char, 4096> buffer{};
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(st.st_gid);
}

// The cause of a failed open(2) or access(2) of a device.
PortError DeviceError(const std::string& path, int error) {
    PortError e{PortFault::Other, path, std::strerror(error), {}};
    if (error == ENOENT || error == ENOTDIR) {
        e.fault = PortFault::NoDevice;
    } else if (error == EACCES || error == EPERM) {
        e.fault = PortFault::AccessDenied;
        e.group = GroupOf(path);
    } else if (error == EBUSY) {
        e.fault = PortFault::InUse;
    }
    return e;
}

}  // namespace

std::string DefaultComDevice(int com) { return "/dev/ttyS" + std::to_string(com - 1); }

PosixSerialPort::PosixSerialPort(ComDeviceResolver resolver) : resolver_(std::move(resolver)) {}

PosixSerialPort::~PosixSerialPort() {
    if (fd_ >= 0) ::close(fd_);
}

bool PosixSerialPort::setPortNumber(int number) {
    if (open_) {
        fail("Port already open");
        return false;
    }
    if (number < 1 || number > HighestPortNumber || !resolver_ || resolver_(number).empty()) {
        fail("Invalid port number");
        return false;
    }
    const std::string device = resolver_(number);
    std::string error;
    if (IsNetworkDevice(device) && !ParseNetworkAddress(device, error)) {
        fail(error);
        return false;
    }
    number_ = number;
    return true;
}

LinkKind PosixSerialPort::linkKind() const {
    std::string error;
    const auto address = ParseNetworkAddress(devicePath(), error);
    return address ? address->kind : LinkKind::Serial;
}

std::string PosixSerialPort::linkAddress() const {
    std::string error;
    const auto address = ParseNetworkAddress(devicePath(), error);
    return address ? address->text() : std::string();
}

void PosixSerialPort::setConnectTimeout(Millis limit) {
    connectTimeout_ = std::max(limit, ShortestConnect);
}

bool PosixSerialPort::setSettings(const LineSettings& line) {
    // 1.5 stop bits exist only with 5 data bits, and 5 data bits cannot
    // have 2.
    const bool five = line.dataBits == 5;
    if (line.baud <= 0 || line.dataBits < 5 || line.dataBits > 8 ||
        (line.stopBits == StopBits::OneAndHalf && !five) ||
        (line.stopBits == StopBits::Two && five)) {
        fail("Invalid property value");
        return false;
    }
    line_ = line;
    return true;
}

std::string PosixSerialPort::devicePath() const { return resolver_ ? resolver_(number_) : ""; }

// Lock files keep out programs that honour them, the exclusive mode keeps
// out other users, and an exclusive lock on the device keeps out every
// other opener that locks, root included. The device itself is opened
// rather than a link to it, so that the lock holds whatever name reached it.
bool PosixSerialPort::open() {
    if (open_) {
        fail("Port already open");
        return failOpen({PortFault::Other, devicePath(), error_, {}});
    }
    const std::string path = devicePath();
    if (path.empty()) {
        fail("Invalid port number");
        return failOpen({PortFault::NoDevice, {}, error_, {}});
    }
    if (IsNetworkDevice(path)) return openNetwork(path);
    char* real = ::realpath(path.c_str(), nullptr);
    const std::string target = real ? real : path;
    std::free(real);
    fd_ = ::open(target.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        fail(path + ": " + std::strerror(error));
        return failOpen(DeviceError(path, error));
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        fail(target + ": Device in use by another program");
        ::close(fd_);
        fd_ = -1;
        return failOpen({PortFault::InUse, path, {}, {}});
    }
    ::ioctl(fd_, TIOCEXCL);
    if (!configure()) {
        const int error = errno;
        fail(path + ": " + std::strerror(error));
        release();
        return failOpen({error == ENOTTY ? PortFault::NotCharDevice : PortFault::Other, path,
                         std::strerror(error), {}});
    }
    applyModemLines();
    open_ = true;
    lost_ = false;
    openError_ = {};
    buffer_.clear();
    return true;
}

// None of the line settings applies to a connection.
bool PosixSerialPort::openNetwork(const std::string& device) {
    std::string error;
    const auto address = ParseNetworkAddress(device, error);
    Connection connection;
    if (address) connection = ConnectTcp(*address, connectTimeout_, lookups_, lookup_);
    if (connection.fd < 0) {
        fail(address ? connection.error : error);
        return failOpen({PortFault::NoConnection, device, error_, {}});
    }
    fd_ = connection.fd;
    open_ = true;
    lost_ = false;
    socket_ = true;
    openError_ = {};
    buffer_.clear();
    return true;
}

bool PosixSerialPort::failOpen(PortError error) {
    openError_ = std::move(error);
    return false;
}

bool PosixSerialPort::checkDevice() {
    const std::string path = devicePath();
    if (path.empty()) {
        fail("Invalid port number");
        return failOpen({PortFault::NoDevice, {}, error_, {}});
    }
    // A network port is only reached by connecting to it.
    if (std::string error; IsNetworkDevice(path)) {
        if (ParseNetworkAddress(path, error)) return true;
        fail(error);
        return failOpen({PortFault::NoConnection, path, error_, {}});
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        fail(path + ": " + std::strerror(error));
        return failOpen(DeviceError(path, error));
    }
    if (!S_ISCHR(st.st_mode)) {
        fail(path + ": not a character device");
        return failOpen({PortFault::NotCharDevice, path, {}, {}});
    }
    if (::access(path.c_str(), R_OK | W_OK) != 0) {
        const int error = errno;
        fail(path + ": " + std::strerror(error));
        return failOpen(DeviceError(path, error));
    }
    openError_ = {};
    return true;
}

// Raw bytes, no echo, reads that never block; the 1.5 stop bits of 5-bit
// characters are what a UART sends when asked for two.
bool PosixSerialPort::configure() {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | DataBitsFlag(line_.dataBits) | ParityFlags(line_.parity);
    if (line_.stopBits != StopBits::One) tio.c_cflag |= CSTOPB;
    if (UsesRtsLine(handshake_)) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (UsesXonXoff(handshake_)) tio.c_iflag |= IXON | IXOFF;
    // With one byte asked for, a read of a descriptor that does not block
    // gives EAGAIN when nothing waits, and end of file only on a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    speed_t speed = B9600;
    const bool standard = StandardSpeed(line_.baud, speed);
    if (standard) ::cfsetspeed(&tio, speed);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
    return standard || SetCustomBaudRate(fd_, line_.baud);
}

// A device without modem lines (a pseudo-terminal) refuses them; that is
// not a failure of the port.
void PosixSerialPort::applyModemLines() {
    int dtr = TIOCM_DTR;
    ::ioctl(fd_, dtr_ ? TIOCMBIS : TIOCMBIC, &dtr);
    if (UsesRtsLine(handshake_)) return;
    int rts = TIOCM_RTS;
    ::ioctl(fd_, rts_ ? TIOCMBIS : TIOCMBIC, &rts);
}

void PosixSerialPort::close() {
    release();
    open_ = false;
    lost_ = false;
    socket_ = false;
    buffer_.clear();
    tookInByWait_ = false;
}

void PosixSerialPort::release() {
    if (fd_ < 0) return;
    // A terminal whose other side stays open (a pseudo-terminal) would keep
    // the exclusive mode, and only root could open it again.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

// The one place where a device that went away is noticed: its descriptor
// is released at once, so that a device that comes back under the same
// name can be opened again.
void PosixSerialPort::markLost(const std::string& reason) {
    lost_ = true;
    error_ = reason.empty() ? DeviceGone : reason;
    release();
}

bool PosixSerialPort::hungUp() const {
    pollfd p{fd_, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool PosixSerialPort::inputPending() const {
    int waiting = 0;
    return fd_ >= 0 && ::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0;
}

[[gnu::hot]] void PosixSerialPort::takeIn() {
    std::array<std::uint8_t, 512> chunk;
    while (fd_ >= 0) {
        const ssize_t n = ::read(fd_, chunk.data(), chunk.size());
        if (n > 0) {
            const auto end = chunk.begin() + n;
            if (nullDiscard_)
                std::copy_if(chunk.begin(), end, std::back_inserter(buffer_),
                             [](std::uint8_t b) { return b != 0; });
            else
                buffer_.insert(buffer_.end(), chunk.begin(), end);
            // A device that gave less than asked has nothing more now: the
            // next wait sees what comes later, and the next read its end.
            if (static_cast<std::size_t>(n) < chunk.size()) return;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // End of file on a socket is the other end closing; on a terminal
        // it may be nothing.
        if (n == 0 && !socket_ && !hungUp()) return;
        if (n == 0)
            markLost(socket_ ? ConnectionClosed : DeviceGone);
        else
            markLost(DeviceGoneError(errno) ? DeviceGone : std::strerror(errno));
        return;
    }
}

// Flushing a terminal's input also restarts the kernel's receive worker, a
// task switch on every transaction: flush only when bytes are waiting.
void PosixSerialPort::discardInput() {
    if (socket_) takeIn();
    buffer_.clear();
    if (fd_ >= 0 && !socket_ && inputPending()) ::tcflush(fd_, TCIFLUSH);
}

std::size_t PosixSerialPort::bytesWaiting() {
    takeIn();
    return buffer_.size();
}

[[gnu::hot]] bool PosixSerialPort::write(const Bytes& bytes) {
    if (!open_ || fd_ < 0) {
        if (!open_) fail("Port not open");
        return false;
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        // A socket whose other end has gone must not raise SIGPIPE.
        const ssize_t n = socket_
                              ? ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL)
                              : ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, WriteStallMs) > 0 && (p.revents & POLLOUT) != 0) continue;
            fail("Write timed out: the device does not take bytes");
            return false;
        }
        const int error = errno;
        if (DeviceGoneError(error))
            markLost(DeviceGone);
        else if (socket_ && (error == EPIPE || error == ECONNRESET))
            markLost(std::strerror(error));
        else
            fail(std::strerror(error));
        return false;
    }
    return true;
}

[[gnu::hot]] Bytes PosixSerialPort::readAll() {
    Bytes out;
    readAllInto(out);
    return out;
}

[[gnu::hot]] void PosixSerialPort::readAllInto(Bytes& bytes) {
    // Right after a wait that took bytes in, another read finds nothing.
    if (!std::exchange(tookInByWait_, false)) takeIn();
    if (buffer_.empty()) return;
    if (bytes.empty())
        bytes.swap(buffer_);
    else
        bytes.insert(bytes.end(), buffer_.begin(), buffer_.end());
    buffer_.clear();
}

// Blocks until the device has bytes, goes away, or the deadline passes; a
// closed or lost port just sleeps until the deadline.
void PosixSerialPort::watchAlso(int fd, std::function<void()> onReadable) {
    alsoFd_ = fd;
    onAlsoReadable_ = std::move(onReadable);
}

[[gnu::hot]] void PosixSerialPort::waitForInput(TimePoint deadline) {
    if (fd_ < 0 && alsoFd_ < 0) {
        std::this_thread::sleep_until(deadline);
        return;
    }
    // A closed port leaves a negative descriptor, which poll(2) skips.
    pollfd p[2] = {{fd_, POLLIN, 0}, {alsoFd_, POLLIN, 0}};
    const nfds_t count = alsoFd_ >= 0 ? 2 : 1;
    int n = 0;
    do {
        n = ::poll(p, count, MillisUntil(deadline));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    if (count == 2 && p[1].revents != 0 && onAlsoReadable_) onAlsoReadable_();
    if (fd_ >= 0 && p[0].revents != 0) {
        const std::size_t before = buffer_.size();
        takeIn();
        tookInByWait_ = buffer_.size() > before;
    }
}

}  // namespace tarvel
