#include "platform/qt/QtSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalBlocker>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <thread>


namespace tarvel {
namespace {

constexpr int HighestPortNumber = 255;
const char* const DeviceGone = "Device disappeared from the system";

QSerialPort::Parity qtParity(Parity parity) {
    switch (parity) {
        case Parity::Even:
            return QSerialPort::EvenParity;
        case Parity::Odd:
            return QSerialPort::OddParity;
        case Parity::Mark:
            return QSerialPort::MarkParity;
        case Parity::Space:
            return QSerialPort::SpaceParity;
        case Parity::None:
            break;
    }
    return QSerialPort::NoParity;
}

// A UART sends 1.5 stop bits when asked for two with 5-bit characters, which
// is the only combination where 1.5 exists.
QSerialPort::StopBits qtStopBits(StopBits stop) {
    return stop == StopBits::One ? QSerialPort::OneStop : QSerialPort::TwoStop;
}

QSerialPort::FlowControl qtFlowControl(Handshake handshake) {
    switch (handshake) {
        case Handshake::XonXoff:
            return QSerialPort::SoftwareControl;
        case Handshake::RtsCts:
        case Handshake::RtsCtsXonXoff:
            return QSerialPort::HardwareControl;
        case Handshake::None:
            break;
    }
    return QSerialPort::NoFlowControl;
}

bool usesRtsLine(Handshake handshake) {
    return handshake == Handshake::RtsCts || handshake == Handshake::RtsCtsXonXoff;
}

}  // namespace

std::string DefaultComDevice(int com) { return "/dev/ttyS" + std::to_string(com - 1); }

QtSerialPort::QtSerialPort(ComDeviceResolver resolver)
    : resolver_(std::move(resolver)),
      port_(std::make_unique<QSerialPort>()),
      waitTimer_(std::make_unique<QTimer>()) {
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                     [this](QSerialPort::SerialPortError code) { onPortError(code); });
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(),
                     [this] { waitOver_ = true; });
    waitTimer_->setSingleShot(true);
    waitTimer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(waitTimer_.get(), &QTimer::timeout, waitTimer_.get(),
                     [this] { timerFired_ = true; });
}

QtSerialPort::~QtSerialPort() { close(); }

bool QtSerialPort::setPortNumber(int number) {
    if (open_) {
        fail("Port already open");
        return false;
    }
    if (number < 1 || number > HighestPortNumber || !resolver_ || resolver_(number).empty()) {
        fail("Invalid port number");
        return false;
    }
    number_ = number;
    return true;
}

bool QtSerialPort::setSettings(const LineSettings& line) {
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

std::string QtSerialPort::devicePath() const { return resolver_ ? resolver_(number_) : ""; }

bool QtSerialPort::open() {
    if (open_) {
        fail("Port already open");
        return false;
    }
    std::string path = devicePath();
    if (path.empty()) {
        fail("Invalid port number");
        return false;
    }
    if (!openDevice(path)) return false;
    open_ = true;
    lost_ = false;
    buffer_.clear();
    return true;
}

bool QtSerialPort::openDevice(const std::string& path) {
    // Open the device itself rather than a link to it, so that its lock
    // file is named after the device whatever name reached it.
    QString name = QString::fromStdString(path);
    QString target = QFileInfo(name).canonicalFilePath();
    port_->setPortName(target.isEmpty() ? name : target);
    port_->setBaudRate(line_.baud);
    port_->setDataBits(static_cast<QSerialPort::DataBits>(line_.dataBits));
    port_->setParity(qtParity(line_.parity));
    port_->setStopBits(qtStopBits(line_.stopBits));
    port_->setFlowControl(qtFlowControl(handshake_));
    if (!port_->open(QIODevice::ReadWrite)) {
        fail(path + ": " + port_->errorString().toStdString());
        port_->clearError();
        return false;
    }
    if (!takeExclusively()) {
        releaseHandle();
        return false;
    }
    if (handshake_ == Handshake::RtsCtsXonXoff) applyBothHandshakes();
    applyModemLines();
    return true;
}

// Lock files keep out programs that honour them, the exclusive mode keeps
// out other users, and an exclusive lock on the device keeps out every
// other opener that locks, root included.
bool QtSerialPort::takeExclusively() {
    int fd = static_cast<int>(port_->handle());
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        fail(port_->portName().toStdString() + ": Device in use by another program");
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    return true;
}

// A device without modem lines (a pseudo-terminal) refuses them; that is
// not a failure of the port.
void QtSerialPort::applyModemLines() {
    QSignalBlocker quiet(port_.get());
    port_->setDataTerminalReady(dtr_);
    if (!usesRtsLine(handshake_)) port_->setRequestToSend(rts_);
    port_->clearError();
}

// Qt knows one flow control at a time: add XON/XOFF to RTS/CTS by hand.
void QtSerialPort::applyBothHandshakes() {
    int fd = static_cast<int>(port_->handle());
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return;
    tio.c_iflag |= IXON | IXOFF;
    ::tcsetattr(fd, TCSANOW, &tio);
}

void QtSerialPort::close() {
    releaseHandle();
    open_ = false;
    lost_ = false;
    buffer_.clear();
}

void QtSerialPort::releaseHandle() {
    if (port_->isOpen()) port_->close();
    port_->clearError();
}

bool QtSerialPort::live() const { return open_ && !lost_ && port_->isOpen(); }

bool QtSerialPort::hungUp() const {
    if (!port_->isOpen()) return false;
    pollfd p{static_cast<int>(port_->handle()), 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void QtSerialPort::checkHangUp() {
    if (!live() || !hungUp()) return;
    markLost(DeviceGone);
    releaseHandle();
}

// Reached from inside the port's own notifier: the handle is released once
// control is back in the event loop. A read that returns nothing on a
// hung-up device is reported as a read error with a stale cause, so the
// hang-up is checked for every error.
void QtSerialPort::onPortError(int code) {
    if (code == QSerialPort::NoError || !open_ || lost_) return;
    if (code == QSerialPort::ResourceError || hungUp()) {
        markLost(port_->errorString().toStdString());
        QMetaObject::invokeMethod(
            port_.get(),
            [this] {
                if (lost_) releaseHandle();
            },
            Qt::QueuedConnection);
        return;
    }
    error_ = port_->errorString().toStdString();
}

void QtSerialPort::markLost(const std::string& reason) {
    lost_ = true;
    waitOver_ = true;
    error_ = reason.empty() ? DeviceGone : reason;
}

void QtSerialPort::pullReceived() {
    if (!port_->isOpen() || port_->bytesAvailable() == 0) return;
    QByteArray data = port_->readAll();
    buffer_.reserve(buffer_.size() + static_cast<std::size_t>(data.size()));
    for (char c : data) {
        auto b = static_cast<std::uint8_t>(c);
        if (!(nullDiscard_ && b == 0)) buffer_.push_back(b);
    }
}

// Flushing a terminal's input also restarts the kernel's receive worker, a
// task switch on every transaction: flush only when bytes are waiting.
void QtSerialPort::discardInput() {
    buffer_.clear();
    if (!live()) return;
    int waiting = 0;
    if (port_->bytesAvailable() == 0 &&
        ::ioctl(static_cast<int>(port_->handle()), FIONREAD, &waiting) == 0 && waiting == 0)
        return;
    port_->clear(QSerialPort::Input);
}

std::size_t QtSerialPort::bytesWaiting() {
    if (open_) pullReceived();
    return buffer_.size();
}

// The bytes go straight to the device; only what the device cannot take at
// once is left to the port's own buffer, which sends it from the event loop.
bool QtSerialPort::write(const Bytes& bytes) {
    if (!live()) {
        fail(open_ ? error_ : "Port not open");
        return false;
    }
    int fd = static_cast<int>(port_->handle());
    std::size_t sent = 0;
    // Bytes still queued from an earlier write go first.
    if (port_->bytesToWrite() > 0) fd = -1;
    while (fd >= 0 && sent < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            fail(std::strerror(errno));
            checkHangUp();
            return false;
        }
    }
    if (sent == bytes.size()) return true;
    auto rest = static_cast<qint64>(bytes.size() - sent);
    return port_->write(reinterpret_cast<const char*>(bytes.data() + sent), rest) == rest;
}

Bytes QtSerialPort::readAll() {
    Bytes out;
    if (!open_) return out;
    pullReceived();
    out.swap(buffer_);
    return out;
}

// Lets events run until new bytes arrive, the device is lost or the
// deadline passes: each round blocks in the event dispatcher until something
// happens. The timer is precise so that a time-out ends on time; a closed or
// lost port just lets events run until the deadline.
//
// The timer is left running after a wait and kept by the next one when it
// fires no later than that one's deadline: a master that polls faster than
// its time-out registers a timer about once per time-out instead of once per
// request. A timer that fires early just starts the next round.
void QtSerialPort::waitForInput(TimePoint deadline) {
    if (live() && port_->bytesAvailable() > 0) return;
    if (!QCoreApplication::instance()) {  // no event loop to wait in
        std::this_thread::sleep_until(deadline);
        return;
    }
    // A wait started by an event inside this one ends this one too when
    // bytes came; the caller then simply waits again.
    waitOver_ = false;
    for (;;) {
        auto remaining =
            std::chrono::ceil<Millis>(deadline - std::chrono::steady_clock::now()).count();
        if (remaining <= 0) {
            QCoreApplication::processEvents();
            break;
        }
        if (!waitTimer_->isActive() || waitTimer_->remainingTime() > remaining)
            waitTimer_->start(static_cast<int>(remaining));
        timerFired_ = false;
        while (!waitOver_ && !timerFired_)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (waitOver_) break;
    }
    if (lost_) releaseHandle();
}

}  // namespace tarvel
