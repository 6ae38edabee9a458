// The Qt serial port on a bare pseudo-terminal pair whose master side plays
// the device.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>

#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "FakePlatform.h"
#include "Support.h"
#include "platform/qt/QtSerialPort.h"

namespace tarvel::integration {
namespace {

using namespace std::chrono_literals;

ComDeviceResolver always(const std::string& path) {
    return [path](int) { return path; };
}

TimePoint in(Millis ms) { return std::chrono::steady_clock::now() + ms; }

termios kernelSettings(const PtyPair& pty) {
    termios tio{};
    ::tcgetattr(pty.master(), &tio);  // the slave's settings
    return tio;
}

TEST(QtSerialPortPty, SettingsAreKeptAsAcceptedAndAppliedAtOpening) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::vector<int> asked;
    QtSerialPort port([&](int com) {
        asked.push_back(com);
        return pty.slavePath();
    });

    EXPECT_FALSE(port.setPortNumber(0));
    EXPECT_FALSE(port.setPortNumber(256));
    EXPECT_TRUE(port.setPortNumber(255));
    EXPECT_TRUE(port.setPortNumber(7));
    EXPECT_EQ(port.portNumber(), 7);

    EXPECT_TRUE(port.setSettings("19200,E,7,2"));
    EXPECT_EQ(port.settings(), "19200,e,7,2");
    for (const char* bad :
         {"", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3", "0,N,8,1", "9600,N,8,1.5", "9600,N,5,2"}) {
        EXPECT_FALSE(port.setSettings(bad)) << bad;
        EXPECT_EQ(port.settings(), "19200,e,7,2") << bad;
    }
    EXPECT_TRUE(port.setSettings("1200,m,5,1.5"));
    EXPECT_TRUE(port.setSettings("19200,e,7,2"));

    // Modem lines a pseudo-terminal does not have are no reason to fail.
    port.setHandshake(Handshake::XonXoff);
    port.setDtr(true);
    port.setRts(true);
    ASSERT_TRUE(port.open()) << port.errorText();
    EXPECT_EQ(asked.back(), 7);
    EXPECT_FALSE(port.setPortNumber(3));  // not while open
    EXPECT_FALSE(port.open());            // already open

    // The terminal drops parity and keeps 8 bits; the port reports what it
    // accepted.
    termios tio = kernelSettings(pty);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_EQ(port.settings(), "19200,e,7,2");
    port.close();

    port.setHandshake(Handshake::RtsCts);
    ASSERT_TRUE(port.open()) << port.errorText();
    tio = kernelSettings(pty);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & IXON);
    port.close();

    port.setHandshake(Handshake::RtsCtsXonXoff);
    ASSERT_TRUE(port.open()) << port.errorText();
    tio = kernelSettings(pty);
    EXPECT_TRUE((tio.c_cflag & CRTSCTS) && (tio.c_iflag & IXON) && (tio.c_iflag & IXOFF));
}

TEST(QtSerialPortPty, ComNumbersComeFromThePortsSection) {
    fakes::FakeProfileStore ini;
    ini.set("Ports", "COM3", " /dev/ttyUSB0 ");
    auto resolve = ComDeviceFromSettings(ini, "Tarvel.INI");
    EXPECT_EQ(resolve(3), "/dev/ttyUSB0");
    EXPECT_EQ(resolve(1), "/dev/ttyS0");
    EXPECT_EQ(resolve(12), "/dev/ttyS11");
}

TEST(QtSerialPortPty, ClosedOrMissingPortFailsWithoutHarm) {
    QtSerialPort port(always("/nonexistent/ttyTarvel"));
    port.discardInput();
    EXPECT_EQ(port.bytesWaiting(), 0u);
    EXPECT_FALSE(port.write({1, 2, 3}));
    EXPECT_FALSE(port.errorText().empty());
    EXPECT_TRUE(port.readAll().empty());

    EXPECT_FALSE(port.open());
    EXPECT_FALSE(port.isOpen());
    EXPECT_NE(port.errorText().find("/nonexistent/ttyTarvel"), std::string::npos);

    // Waiting on a closed port lets time pass, idle, until the deadline.
    Stopwatch watch;
    port.waitForInput(in(150ms));
    EXPECT_GE(watch.wallMs(), 149);
    EXPECT_LT(watch.wallMs(), 170);
    EXPECT_LT(watch.load(), 0.1);
}

bool openInChildProcess(const std::string& device) {
    pid_t child = ::fork();
    if (child == 0) {
        QtSerialPort other(always(device));
        bool opened = other.open();
        other.close();
        ::_exit(opened ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(QtSerialPortPty, DeviceIsTakenExclusively) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::string folder = temporaryFolder();
    std::string link = folder + "/ttyLink";
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);

    QtSerialPort first(always(pty.slavePath()));
    QtSerialPort second(always(pty.slavePath()));
    QtSerialPort viaLink(always(link));
    ASSERT_TRUE(first.open()) << first.errorText();
    EXPECT_FALSE(second.open());
    EXPECT_FALSE(second.errorText().empty());
    EXPECT_FALSE(viaLink.open());
    EXPECT_FALSE(openInChildProcess(pty.slavePath()));

    first.close();
    EXPECT_TRUE(viaLink.open()) << viaLink.errorText();
    viaLink.close();
    EXPECT_TRUE(openInChildProcess(pty.slavePath()));
    std::filesystem::remove_all(folder);
}

TEST(QtSerialPortPty, BytesPassBothWaysAndZeroBytesCanBeDropped) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QtSerialPort port(always(pty.slavePath()));
    ASSERT_TRUE(port.open()) << port.errorText();

    Bytes request{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    ASSERT_TRUE(port.write(request));
    EXPECT_EQ(pty.receive(500), request);

    // A wait ends as soon as bytes arrive, long before its deadline.
    QTimer::singleShot(30, [&] { pty.send({0x01, 0x00, 0x11, 0x00, 0x13}); });
    Stopwatch watch;
    port.waitForInput(in(2000ms));
    EXPECT_LT(watch.wallMs(), 500);
    EXPECT_EQ(port.bytesWaiting(), 5u);
    EXPECT_EQ(port.readAll(), (Bytes{0x01, 0x00, 0x11, 0x00, 0x13}));
    EXPECT_EQ(port.bytesWaiting(), 0u);

    // A received buffer that nobody read is emptied on request.
    pty.send({0x55, 0x66});
    port.waitForInput(in(500ms));
    port.discardInput();
    EXPECT_EQ(port.bytesWaiting(), 0u);
    port.close();

    port.setNullDiscard(true);
    ASSERT_TRUE(port.open());
    pty.send({0x00, 0x07, 0x00, 0x00, 0x08});
    for (int i = 0; i < 10 && port.bytesWaiting() < 2; ++i) port.waitForInput(in(200ms));
    EXPECT_EQ(port.readAll(), (Bytes{0x07, 0x08}));
}

TEST(QtSerialPortPty, SilentDeviceWaitEndsAtItsDeadline) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QtSerialPort port(always(pty.slavePath()));
    ASSERT_TRUE(port.open()) << port.errorText();
    for (auto wait : {10ms, 100ms, 200ms}) {
        Stopwatch all;
        double ms = middleOfThree([&] {
            Stopwatch watch;
            port.waitForInput(in(wait));
            EXPECT_GE(watch.wallMs(), wait.count() - 0.5);
            return watch.wallMs();
        });
        EXPECT_LT(ms, wait.count() + 10);
        EXPECT_LT(all.load(), 0.1);
    }
    // A deadline already past only lets pending events run.
    Stopwatch watch;
    port.waitForInput(in(-5ms));
    EXPECT_LT(watch.wallMs(), 5);
}

TEST(QtSerialPortPty, HangUpDuringAWaitIsNoticedWithoutSpinning) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QtSerialPort port(always(pty.slavePath()));
    ASSERT_TRUE(port.open()) << port.errorText();
    EXPECT_FALSE(port.deviceLost());

    QTimer::singleShot(50, [&] { pty.closeMaster(); });
    Stopwatch watch;
    const TimePoint end = in(400ms);
    port.waitForInput(end);  // ends when the device goes
    EXPECT_LT(watch.wallMs(), 300);
    EXPECT_TRUE(port.deviceLost());
    while (std::chrono::steady_clock::now() < end) port.waitForInput(end);
    EXPECT_TRUE(port.isOpen());
    EXPECT_LT(watch.load(), 0.1);
    EXPECT_FALSE(port.write({1, 2}));
    EXPECT_TRUE(port.readAll().empty());

    port.close();
    EXPECT_FALSE(port.deviceLost());
    EXPECT_FALSE(port.open());  // the terminal is gone with its master
}

TEST(QtSerialPortPty, HangUpBetweenWaitsIsNoticedWithoutSpinning) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QtSerialPort port(always(pty.slavePath()));
    ASSERT_TRUE(port.open()) << port.errorText();

    // The device goes away while the program idles in its event loop.
    pty.closeMaster();
    Stopwatch watch;
    runEventLoopFor(300);
    EXPECT_LT(watch.load(), 0.1);
    EXPECT_TRUE(port.deviceLost());

    Stopwatch wait;
    port.waitForInput(in(100ms));
    EXPECT_GE(wait.wallMs(), 99);
    EXPECT_LT(wait.load(), 0.1);
}

}  // namespace
}  // namespace tarvel::integration
