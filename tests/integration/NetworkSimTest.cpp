// The Modbus master over the Qt port on a network link, against the device
// simulator on the loopback address: Modbus TCP (libmodbus's server) and
// RTU frames over TCP. Every function code, exceptions, a connection that
// the server drops, a refused connection, a server that never answers and
// an answer with another transaction identifier.

#include <gtest/gtest.h>

#include "Broker.h"
#include "Support.h"
#include "modbus/Profilo.h"

namespace tarvel::integration {
namespace {

using namespace std::chrono_literals;

const char* const Plant =
    "node 1\ncoil 3 1\ndiscrete 9 1\nholding 40000 0x1234\nholding 40001 7\ninput 5 2301\n"
    "holding 10 1\nfault 1 holding 10 exception 2\n"
    "holding 20 1\nfault 1 holding 20 wrongtid\nholding 30 1\nfault 1 holding 30 delay 200\n"
    "node 2\nholding 0 1\nfault 2 silent\n";

// A listening socket on a free loopback port that accepts connections (the
// system completes them) and never answers.
struct Listener {
    std::pair<int, sockaddr_in> socket = test::Loopback(0);
    int port = 0;
    Listener() {
        auto& [fd, a] = socket;
        socklen_t length = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 4) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(socket.first); }
};

class BothFramings : public ::testing::TestWithParam<const char*>, public SimMaster {
  protected:
    void SetUp() override { ASSERT_TRUE(start(Plant, GetParam())) << why(); }
    bool modbusTcp() const { return std::string(GetParam()) == "tcp"; }
};

TEST_P(BothFramings, EveryFunctionCodeExceptionsAndTransactionIdentifiers) {
    EXPECT_EQ(bus.LeggiRete(), (modbusTcp() ? "mbtcp " : "tcp ") + address);
    EXPECT_EQ(read16(1, 3), 1);
    EXPECT_EQ(read16(2, 9), 1);
    EXPECT_EQ(read16(3, 40000), 0x1234);
    EXPECT_EQ(read16(4, 5), 2301);
    // The bytes on the wire: struct.pack('>HHHBBHH', 3, 0, 6, 1, 3, 40000, 1)
    // and libmodbus's answer, or the RTU frame.
    EXPECT_EQ(bus.monitor().richieste()[2],
              modbusTcp() ? "00 03 00 00 00 06 01 03 9C 40 00 01" : "01 03 9C 40 00 01 AB 8E");
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

    // An answer with another transaction identifier is not taken.
    // RTU frames carry no transaction identifier: the answer is sound.
    EXPECT_EQ(read16(3, 20), modbusTcp() ? std::nullopt : std::optional<double>(1));
    if (modbusTcp()) {
        EXPECT_EQ(bus.esito(), EsitoTransazione::RispostaErrata);
        EXPECT_TRUE(bus.monitor().risposte().back().ends_with(" (Wrong answer)"));
    }
    EXPECT_EQ(read16(3, 40000), 0x1234);
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

INSTANTIATE_TEST_SUITE_P(Network, BothFramings, ::testing::Values("tcp", "rtu-tcp"));

TEST(NetworkPort, ARefusedConnectionAndASilentServer) {
    Listener silent;
    ASSERT_NE(silent.port, 0);
    const int closed = test::FreePort();
    SimMaster m;  // without the simulator
    m.device = "mbtcp://127.0.0.1:" + std::to_string(closed);
    m.bus.ImpostaTimeOut(200);
    EXPECT_FALSE(m.open(false));
    EXPECT_EQ(m.bus.erroreApertura().fault, PortFault::NoConnection);
    EXPECT_EQ(DescriviErrorePorta(m.bus.erroreApertura()),
              "nessuna connessione con " + m.device + " (127.0.0.1:" + std::to_string(closed) +
                  ": Connection refused)");

    // A name, looked up aside, whose first address may be ::1, not served.
    m.device = "tcp://localhost:" + std::to_string(silent.port);
    ASSERT_TRUE(m.open(false));
    Stopwatch watch;
    EXPECT_EQ(m.read16(3, 0), std::nullopt);
    EXPECT_EQ(m.bus.esito(), EsitoTransazione::TimeOut);
    EXPECT_GE(watch.wallMs(), 190);
    EXPECT_LT(watch.load(), 0.1);
}

}  // namespace
}  // namespace tarvel::integration
