// The serial port on a bare pseudo-terminal pair whose master side plays
// the device: settings applied at opening, the exclusive lock, leftovers
// dropped, waits that end on bytes, on a hang-up or at their own deadline.
// The zero-byte filter and unplugging the simulator are proven by the
// master's tests against the simulator.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <cstring>

#include "FakePlatform.h"
#include "Support.h"
#include "modbus/LineSettingsText.h"
#include "modbus/ComPorts.h"

namespace tarvel::integration {
namespace {

using namespace std::chrono_literals;

ComDeviceResolver always(const std::string& path) {
    return [path](int) { return path; };
}

TimePoint in(Millis ms) { return std::chrono::steady_clock::now() + ms; }

bool openInChildProcess(const std::string& device) {
    pid_t child = ::fork();
    if (child == 0) ::_exit(PosixSerialPort(always(device)).open() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Settings are kept as accepted while the port is closed and applied when it
// opens: the rate, also one termios has no constant for, and the flow
// control. Modem lines a pseudo-terminal does not have are no reason to
// fail; the terminal drops parity and keeps 8 bits, the port reports what it
// accepted. A port that cannot be opened says why, in the words the
// messages show: no device, no terminal, held by another opener (one at a
// time, whatever name reaches the device, in this process or another); a
// device this user may not open names its group (not testable as root, who
// may open anything).
TEST(SerialPortPty, SettingsApplyAtOpeningAndAFailedOpeningNamesItsCause) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialPort port([&](int com) { return com == 7 ? pty.slavePath() : "/nonexistent/tty"; });
    for (auto [number, ok] : {std::pair{0, false}, {256, false}, {255, true}, {7, true}})
        EXPECT_EQ(port.setPortNumber(number), ok) << number;
    EXPECT_TRUE(port.setSettings(*ParseLineSettings("1200,m,5,1.5")));
    EXPECT_TRUE(port.setSettings(*ParseLineSettings("19200,E,7,2")));
    for (const char* bad :
         {"", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3", "0,N,8,1", "9600,N,8,1.5", "9600,N,5,2"})
        EXPECT_FALSE(ParseLineSettings(bad)) << bad;
    for (LineSettings bad : {LineSettings{9600, Parity::None, 8, StopBits::OneAndHalf},
                             LineSettings{9600, Parity::None, 5, StopBits::Two},
                             LineSettings{0, Parity::None, 8, StopBits::One}})
        EXPECT_FALSE(port.setSettings(bad));

    port.setDtr(true);
    port.setRts(true);
    using F = std::tuple<Handshake, tcflag_t, tcflag_t>;  // CRTSCTS, IXON | IXOFF
    for (auto [handshake, rtsCts, xonXoff] :
         {F{Handshake::XonXoff, 0, IXON | IXOFF}, F{Handshake::RtsCts, CRTSCTS, 0},
          F{Handshake::RtsCtsXonXoff, CRTSCTS, IXON | IXOFF}}) {
        port.setHandshake(handshake);
        ASSERT_TRUE(port.open()) << port.errorText();
        EXPECT_FALSE(port.setPortNumber(3));  // not while open
        EXPECT_FALSE(port.open());            // already open
        termios tio{};
        ::tcgetattr(pty.master(), &tio);  // the slave's settings
        EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
        EXPECT_EQ(tio.c_cflag & CRTSCTS, rtsCts);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), xonXoff);
        EXPECT_EQ(LineSettingsText(port.settings()), "19200,e,7,2");
        port.close();
    }
    ASSERT_TRUE(port.setSettings(*ParseLineSettings("250000,N,8,1")));
    ASSERT_TRUE(port.open()) << port.errorText();

    // COM n is the key "COMn" of the section Ports, or /dev/ttyS(n-1).
    fakes::FakeProfileStore ini;
    ini.set("Ports", "COM3", " /dev/ttyUSB0 ");
    auto resolve = ComDeviceFromSettings(ini, "Tarvel.INI", DefaultComDevice);
    EXPECT_EQ(resolve(3), "/dev/ttyUSB0");
    EXPECT_EQ(resolve(12), "/dev/ttyS11");

    test::TempFolder folder;
    const std::string missing = folder / "ttyNone", plain = folder / "plain",
                      link = folder / "ttyLink";
    test::WriteFile(plain, "x");
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
    // The port above holds the device.
    EXPECT_FALSE(openInChildProcess(pty.slavePath()));
    for (const auto& [path, cause] : {
             std::pair{missing, "il dispositivo " + missing + " non esiste"},
             std::pair{plain,
                       plain + " non è un dispositivo seriale (" + std::strerror(ENOTTY) + ")"},
             std::pair{pty.slavePath(), pty.slavePath() + " è già in uso da un altro programma"},
             std::pair{link, link + " è già in uso da un altro programma"},
         }) {
        PosixSerialPort other(always(path));
        EXPECT_FALSE(other.open());
        EXPECT_EQ(DescribePortError(other.openError()), cause);
    }
    port.close();
    // The exclusive mode lives on in a terminal whose other side stays open,
    // where only root could open it again: closing gives it back.
    const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(fd);
    EXPECT_TRUE(openInChildProcess(pty.slavePath()));
    if (::geteuid() == 0) return;  // root may open any device
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0), 0);
    struct stat st {};
    ASSERT_EQ(::stat(pty.slavePath().c_str(), &st), 0);
    const group* owner = ::getgrgid(st.st_gid);
    const std::string name = owner ? owner->gr_name : std::to_string(st.st_gid);
    PosixSerialPort denied(always(pty.slavePath()));
    EXPECT_FALSE(denied.open());
    EXPECT_EQ(DescribePortError(denied.openError()),
              "accesso negato a " + pty.slavePath() + " (" + std::strerror(EACCES) +
                  "): l'utente deve appartenere al gruppo " + name + " (sudo usermod -aG " + name +
                  " $USER, poi un nuovo accesso)");
}

// Bytes left over from an earlier answer are dropped whether they still sit
// in the terminal or were already taken in. A wait ends on bytes, on the
// second descriptor it watches (the signal pipe of the headless runner, the
// wake-up of the desktop program's worker) or when the device goes away,
// else at its own deadline, idle; a lost or closed port sleeps through to
// the deadline.
TEST(SerialPortPty, LeftoversWaitsAndHangUp) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialPort port(always(pty.slavePath()));
    ASSERT_TRUE(port.open()) << port.errorText();
    // One wait of the port, the device doing `action` after `delay`
    // meanwhile: its wall time in ms and its CPU load. A wait that must end
    // on an event gets a long limit, which it must not reach.
    auto wait = [&](Millis limit, Millis delay = {}, const std::function<void()>& action = {}) {
        std::thread device([&] {
            std::this_thread::sleep_for(delay);
            if (action) action();
        });
        Stopwatch watch;
        port.waitForInput(in(limit));
        device.join();
        return std::pair{watch.wallMs(), watch.load()};
    };
    constexpr Millis Long = 10s;
    auto send = [&](const std::string& bytes) {
        ASSERT_EQ(::write(pty.master(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    };

    for (bool takenIn : {false, true}) {
        send("late");
        std::this_thread::sleep_for(50ms);
        if (takenIn) port.waitForInput(in(200ms));
        port.discardInput();
        send("next");
        port.waitForInput(in(Long));
        EXPECT_EQ(port.readAll(), (Bytes{'n', 'e', 'x', 't'})) << takenIn;
    }

    EXPECT_LT(wait(Long, 20ms, [&] { send("x"); }).first, Long.count());
    EXPECT_EQ(port.readAll(), Bytes{'x'});
    int wake[2];
    ASSERT_EQ(::pipe(wake), 0);
    int woken = 0;
    port.watchAlso(wake[0], [&] { ++woken; });
    EXPECT_LT(wait(Long, 20ms, [&] { ASSERT_EQ(::write(wake[1], "s", 1), 1); }).first,
              Long.count());
    EXPECT_EQ(woken, 1);
    port.watchAlso(-1, {});
    ::close(wake[0]);
    ::close(wake[1]);
    for (auto limit : {500ms, 60ms}) {
        const auto [ms, load] = wait(limit);
        EXPECT_GE(ms, limit.count() - 1);
        EXPECT_LT(load, 0.1);  // a busy wait would take a whole core
    }

    EXPECT_FALSE(port.deviceLost());
    Stopwatch gone;
    EXPECT_LT(wait(Long, 30ms, [&] { pty.closeMaster(); }).first, Long.count());
    EXPECT_TRUE(port.deviceLost());
    EXPECT_GE(wait(100ms).first, 99);
    EXPECT_LT(gone.load(), 0.1);
    EXPECT_TRUE(port.isOpen());
    EXPECT_FALSE(port.write({1, 2}));
    EXPECT_TRUE(port.readAll().empty());

    // Closed (the terminal is gone with its master: opening it fails as for
    // any missing device).
    port.close();
    EXPECT_FALSE(port.deviceLost());
    const auto [closedMs, closedLoad] = wait(150ms);
    EXPECT_GE(closedMs, 149);
    EXPECT_LT(closedLoad, 0.1);
    EXPECT_FALSE(port.write({1, 2, 3}));
    EXPECT_FALSE(port.errorText().empty());
}

}  // namespace
}  // namespace tarvel::integration
