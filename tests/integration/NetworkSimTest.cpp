// The Modbus master over the Qt port on a network link, against the device
// simulator on the loopback address: Modbus TCP (libmodbus's server) and
// RTU frames over TCP. Every function code, exceptions, a connection that
// the server drops, a refused connection, a server that never answers and
// an answer with another transaction identifier.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "SimProcess.h"
#include "Support.h"
#include "modbus/MBus.h"
#include "modbus/Profilo.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtSerialPort.h"

namespace tarvel::integration {
namespace {

using namespace std::chrono_literals;

const char* const Plant =
    "node 1\ncoil 3 1\ndiscrete 9 1\nholding 40000 0x1234\nholding 40001 7\ninput 5 2301\n"
    "holding 10 1\nfault 1 holding 10 exception 2\n"
    "holding 20 1\nfault 1 holding 20 wrongtid\nholding 30 1\nfault 1 holding 30 delay 200\n"
    "node 2\nholding 0 1\nfault 2 silent\n";

// A listening socket on a free loopback port that accepts connections (the
// system completes them) and never answers; closed, it refuses them.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 4) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            port = ntohs(a.sin_port);
    }
    ~Listener() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// The master on one of the simulator's network ports ("tcp" for Modbus TCP,
// "rtu-tcp" for RTU frames), with a time-out of 300 ms and the monitor on.
struct Gateway {
    bool start(const std::string& served) {
        if (!sim.start(Plant, {"--" + served, "0"})) return false;
        const auto line = sim.process().waitForLine(
            test::ChildProcess::Out, [&](const std::string& l) { return l.starts_with(served + " "); },
            5s);
        if (!line) return false;
        address = line->substr(served.size() + 1);
        device = (served == "tcp" ? "mbtcp://" : "tcp://") + address;
        return connect();
    }
    bool connect() {
        const bool ok = bus.ConfiguraPorta("1", "9600,N,8,1", 0, false, false, false);
        bus.ImpostaTimeOut(300);
        bus.ImpostaMonitorAttivo(true);
        return ok && bus.ApriPorta(true);
    }
    std::optional<double> read16(std::int16_t function, std::int32_t reg, std::int16_t node = 1) {
        return bus.LeggiValore16(function, static_cast<std::int16_t>(reg), node, 0, true);
    }

    test::SimProcess sim;
    std::string address, device;
    QtSerialPort port{[this](int) { return device; }};
    QtClock clock;
    MBus bus{port, clock};
};

class BothFramings : public ::testing::TestWithParam<const char*>, public Gateway {
  protected:
    void SetUp() override {
        ASSERT_TRUE(start(GetParam()))
            << port.errorText()
            << testing::PrintToString(sim.process().lines(test::ChildProcess::Err));
    }
    bool modbusTcp() const { return std::string(GetParam()) == "tcp"; }
};

TEST_P(BothFramings, EveryFunctionCodeAndItsExceptions) {
    EXPECT_EQ(bus.LeggiRete(), (modbusTcp() ? "mbtcp " : "tcp ") + address);
    EXPECT_EQ(read16(1, 3), 1);
    EXPECT_EQ(read16(2, 9), 1);
    EXPECT_EQ(read16(3, 40000), 0x1234);
    EXPECT_EQ(read16(4, 5), 2301);
    // The bytes on the wire: struct.pack('>HHHBBHH', 3, 0, 6, 1, 3, 40000, 1)
    // and libmodbus's answer, or the RTU frame.
    EXPECT_EQ(bus.monitor().richieste()[2], modbusTcp() ? "00 03 00 00 00 06 01 03 9C 40 00 01"
                                                        : "01 03 9C 40 00 01 AB 8E");
    const auto blocco = bus.LeggiBlocco(3, 40000, 2, 1);
    ASSERT_TRUE(blocco);
    EXPECT_EQ(blocco->dati, (Bytes{0x12, 0x34, 0x00, 0x07}));

    EXPECT_EQ(read16(3, 10), std::nullopt);
    EXPECT_EQ(bus.esito(), EsitoTransazione::Eccezione);
    EXPECT_EQ(bus.codiceEccezione(), 2);
    // A node that does not answer: the time-out, then the next read works.
    Stopwatch watch;
    EXPECT_EQ(read16(3, 0, 2), std::nullopt);
    EXPECT_EQ(bus.esito(), EsitoTransazione::TimeOut);
    EXPECT_GE(watch.wallMs(), 290);
    EXPECT_EQ(read16(4, 5), 2301);
}

TEST_P(BothFramings, ADroppedConnectionFailsTheRunningReadAndIsMadeAgainOnceASecond) {
    ASSERT_EQ(read16(3, 40000), 0x1234);
    // The server drops the connection while it delays an answer.
    QTimer::singleShot(50, [this] { sim.control("drop"); });
    Stopwatch away;
    EXPECT_EQ(read16(3, 30), std::nullopt);
    EXPECT_EQ(read16(3, 40000), std::nullopt);  // within the second: not tried
    EXPECT_EQ(bus.contatori().riaperture, 0u);
    EXPECT_LT(away.load(), 0.1);
    runEventLoopFor(1000);
    EXPECT_EQ(read16(3, 40000), 0x1234);
    EXPECT_EQ(bus.contatori().riaperture, 1u);
}

TEST_P(BothFramings, AnAnswerWithAnotherTransactionIdentifierIsNotTaken) {
    // RTU frames carry no transaction identifier: the answer is sound.
    EXPECT_EQ(read16(3, 20), modbusTcp() ? std::nullopt : std::optional<double>(1));
    if (modbusTcp()) {
        EXPECT_EQ(bus.esito(), EsitoTransazione::RispostaErrata);
        EXPECT_TRUE(bus.monitor().risposte().back().ends_with(" (Wrong answer)"));
    }
    EXPECT_EQ(read16(3, 40000), 0x1234);
}

INSTANTIATE_TEST_SUITE_P(Network, BothFramings, ::testing::Values("tcp", "rtu-tcp"));

TEST(NetworkPort, ARefusedConnectionAndASilentServer) {
    Listener silent;
    ASSERT_NE(silent.port, 0);
    Listener closed;
    const std::string refused = "mbtcp://127.0.0.1:" + std::to_string(closed.port);
    closed.close();
    std::string device = refused;
    QtSerialPort port{[&](int) { return device; }};
    QtClock clock;
    MBus bus{port, clock};
    ASSERT_TRUE(bus.ConfiguraPorta("1", "9600,N,8,1", 0, false, false, false));
    bus.ImpostaTimeOut(200);
    EXPECT_FALSE(bus.ApriPorta(true));
    EXPECT_EQ(bus.erroreApertura().fault, PortFault::NoConnection);
    EXPECT_EQ(DescriviErrorePorta(bus.erroreApertura()),
              "nessuna connessione con " + refused + " (127.0.0.1:" +
                  std::to_string(closed.port) + ": Connection refused)");

    // A name, looked up aside, whose first address may be ::1, not served.
    device = "tcp://localhost:" + std::to_string(silent.port);
    ASSERT_TRUE(bus.ConfiguraPorta("1", "9600,N,8,1", 0, false, false, false));
    ASSERT_TRUE(bus.ApriPorta(true));
    Stopwatch watch;
    EXPECT_EQ(bus.LeggiValore16(3, 0, 1, 0, false), std::nullopt);
    EXPECT_EQ(bus.esito(), EsitoTransazione::TimeOut);
    EXPECT_GE(watch.wallMs(), 190);
    EXPECT_LT(watch.load(), 0.1);
}

}  // namespace
}  // namespace tarvel::integration
