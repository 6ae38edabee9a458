// The Modbus master over the POSIX port on a network link, against the device
// simulator on the loopback address: Modbus TCP (libmodbus's server) and
// RTU frames over TCP. A read, a connection that the server drops or
// closes, a refused connection and a name whose first addresses take no
// connection. The other function
// codes, exceptions, blocks and transaction identifiers in the MBAP
// framing: ModbusTcp.*; in RTU frames: Frame.*.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "Broker.h"
#include "Support.h"
#include "modbus/SerialProfile.h"

namespace tarvel::integration {
namespace {

const char* const Plant =
    "node 1\nholding 40000 0x1234\nholding 30 1\nfault 1 holding 30 delay 200\n";

class BothFramings : public ::testing::TestWithParam<const char*>, public SimMaster {
  protected:
    void SetUp() override { ASSERT_TRUE(start(Plant, GetParam())) << port.errorText(); }
};

// A read, and the server dropping the connection while it delays an
// answer: that read fails, and the next one makes the connection again.
TEST_P(BothFramings, AReadAndADroppedConnectionMadeAgain) {
    const bool modbusTcp = std::string(GetParam()) == "tcp";
    EXPECT_EQ(bus.NetworkText(), (modbusTcp ? "mbtcp " : "tcp ") + address);
    ASSERT_EQ(read16(3, 40000), 0x1234);
    // The bytes on the wire: struct.pack('>HHHBBHH', 1, 0, 6, 1, 3, 40000, 1)
    // and libmodbus's answer, or the RTU frame.
    EXPECT_EQ(bus.monitor().requests()[0],
              modbusTcp ? "00 01 00 00 00 06 01 03 9C 40 00 01" : "01 03 9C 40 00 01 AB 8E");
    std::thread server([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sim.control("drop");
    });
    EXPECT_EQ(read16(3, 30), std::nullopt);
    server.join();
    EXPECT_EQ(read16(3, 40000), 0x1234);
}

// A gateway that closes the connection after each answer, or once it has
// been idle a while: the closed connection is noticed before the next
// request, made again at once, and every read is good.
TEST_P(BothFramings, AConnectionTheGatewayClosedIsMadeAgainBeforeTheNextRequest) {
    for (const char* idle : {"0", "100"}) {
        SCOPED_TRACE(idle);
        SimMaster m;
        ASSERT_TRUE(m.start(Plant, GetParam(), {"--idle-close", idle})) << m.port.errorText();
        std::size_t closed = 0;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(m.read16(3, 40000), 0x1234) << i;
            ASSERT_TRUE(m.sim.process().waitForLine(
                test::ChildProcess::Err,
                [](const std::string& l) { return l.ends_with("idle, connection closed"); },
                std::chrono::seconds(5), closed, &closed));
            ++closed;
        }
        EXPECT_EQ(m.bus.counters().reopens, 3u);
    }
}

INSTANTIATE_TEST_SUITE_P(Network, BothFramings, ::testing::Values("tcp", "rtu-tcp"));

// Stand-ins for the resolver of "gateway.test", whose first address takes no
// connection: ::1, where nothing listens, or (FirstPort) a port of
// 127.0.0.1 whose queue is full; the second is 127.0.0.1 at the port asked.
int FirstPort = 0;
int GatewayLookup(const char*, const char* service, const addrinfo* hints, addrinfo** result) {
    if (hints->ai_flags & AI_NUMERICHOST) return EAI_NONAME;
    addrinfo numeric = *hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    const std::string first = FirstPort ? std::to_string(FirstPort) : service;
    addrinfo* second = nullptr;
    if (::getaddrinfo(FirstPort ? "127.0.0.1" : "::1", first.c_str(), &numeric, result) != 0 ||
        ::getaddrinfo("127.0.0.1", service, &numeric, &second) != 0)
        return EAI_FAIL;
    addrinfo* last = *result;
    while (last->ai_next) last = last->ai_next;
    last->ai_next = second;
    return 0;
}

TEST(NetworkPort, ARefusedConnectionAndANameOfSeveralAddresses) {
    const int closed = test::FreePort();
    SimMaster m;  // without the simulator
    m.device = "mbtcp://127.0.0.1:" + std::to_string(closed);
    m.bus.ImpostaTimeOut(200);
    EXPECT_FALSE(m.open(false));
    EXPECT_EQ(DescribePortError(m.bus.openError()),
              "nessuna connessione con " + m.device + " (127.0.0.1:" + std::to_string(closed) +
                  ": Connection refused)");

    // A name whose first address refuses the connection, or never answers:
    // the next one is tried within the same time, and the read succeeds.
    SimMaster served;
    ASSERT_TRUE(served.start(Plant, "rtu-tcp")) << served.port.errorText();
    const int full = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int queued = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof at;
    ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(full, 0), 0);
    ASSERT_EQ(::getsockname(full, reinterpret_cast<sockaddr*>(&at), &size), 0);
    ::connect(queued, reinterpret_cast<sockaddr*>(&at), sizeof at);  // fills the queue
    for (const int first : {0, static_cast<int>(ntohs(at.sin_port))}) {
        SCOPED_TRACE(first);
        FirstPort = first;
        m.bus.ApriPorta(false);
        m.port.setNameLookup(GatewayLookup);
        m.device = "tcp://gateway.test:" + served.address.substr(served.address.find(':') + 1);
        ASSERT_TRUE(m.open(false)) << m.port.errorText();
        EXPECT_EQ(m.read16(3, 40000), 0x1234);
    }
    ::close(queued);
    ::close(full);
}

}  // namespace
}  // namespace tarvel::integration
