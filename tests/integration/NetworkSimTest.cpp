// The Modbus master over the POSIX port on a network link, against the device
// simulator on the loopback address: Modbus TCP (libmodbus's server) and
// RTU frames over TCP. A read, a connection that the server drops or
// closes, a refused connection and a name whose first addresses take no
// connection. The other function
// codes, exceptions, blocks and transaction identifiers in the MBAP
// framing: ModbusTcp.*; in RTU frames: Frame.*.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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

// A Modbus TCP peer on the loopback address that takes `count` requests
// before it answers any, then sends a frame whose transaction identifier
// names no request, then libmodbus's answers in the order given (register
// i holds 100 + i); a request left out of the order gets no answer.
class ScriptedPeer {
  public:
    ScriptedPeer(int count, std::vector<int> order) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof at;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size);
        port = ntohs(at.sin_port);
        thread_ = std::thread([this, count, order] { serve(count, order); });
    }
    ~ScriptedPeer() {
        thread_.join();
        ::close(listener_);
    }
    int port = 0;

  private:
    void serve(int count, const std::vector<int>& order) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) return;
        const int fd = ::accept(listener_, nullptr, nullptr);
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
        modbus_mapping_t* map = modbus_mapping_new(0, 0, 16, 0);
        for (int i = 0; i < 16; ++i) map->tab_registers[i] = static_cast<std::uint16_t>(100 + i);
        modbus_set_socket(ctx, fd);
        std::vector<std::vector<std::uint8_t>> requests;
        for (p = {fd, POLLIN, 0}; static_cast<int>(requests.size()) < count;) {
            std::uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
            const int n = ::poll(&p, 1, 5000) == 1 ? modbus_receive(ctx, request) : -1;
            if (n <= 0) break;
            requests.emplace_back(request, request + n);
        }
        if (static_cast<int>(requests.size()) == count) {
            const std::uint8_t stale[] = {0x77, 0x77, 0, 0, 0, 5, 1, 3, 2, 0, 99};
            EXPECT_EQ(::write(fd, stale, sizeof stale), static_cast<ssize_t>(sizeof stale));
            for (int i : order)
                modbus_reply(ctx, requests[i].data(), static_cast<int>(requests[i].size()), map);
        }
        // Until the master closes the connection.
        std::uint8_t rest[64];
        while (::poll(&p, 1, 5000) == 1 && ::read(fd, rest, sizeof rest) > 0) {
        }
        modbus_mapping_free(map);
        modbus_free(ctx);
        ::close(fd);
    }

    int listener_ = -1;
    std::thread thread_;
};

// Four requests out at once (a peer that answers none before it has all
// four proves it): answers in reverse order are each matched to their
// request, one with an unknown identifier is a late answer, and an answer
// that never comes is a time-out for its request alone. The monitor has
// the exchanges in the order of the requests.
TEST(NetworkPort, RequestsInFlightAreMatchedByTransactionIdentifier) {
    using Order = std::vector<int>;
    for (const Order& order : {Order{3, 2, 1, 0}, Order{0, 1, 3}}) {
        ScriptedPeer peer(4, order);
        SimMaster m;
        m.device = "mbtcp://127.0.0.1:" + std::to_string(peer.port);
        m.bus.ImpostaTimeOut(300);
        m.bus.ImpostaMonitorAttivo(true);
        ASSERT_TRUE(m.open(false)) << m.port.errorText();
        m.bus.setWindow(4);
        std::vector<MBus::ReadRequest> requests;
        for (std::uint16_t a = 0; a < 4; ++a) requests.push_back({1, 3, a, 1});
        const std::vector<Transaction> got = m.bus.ReadInFlight(requests);
        ASSERT_EQ(got.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i) {
            const bool answered = std::find(order.begin(), order.end(), i) != order.end();
            SCOPED_TRACE(i);
            EXPECT_EQ(got[i].outcome,
                      answered ? TransactionResult::Complete : TransactionResult::TimeOut);
            const std::vector<std::uint16_t> own{static_cast<std::uint16_t>(100 + i)};
            EXPECT_EQ(got[i].registers, answered ? own : std::vector<std::uint16_t>{});
            // The request as struct.pack('>HHHBBHH', i + 1, 0, 6, 1, 3, i, 1) has it.
            EXPECT_EQ(m.bus.monitor().requests()[i],
                      "00 0" + std::to_string(i + 1) + " 00 00 00 06 01 03 00 0" +
                          std::to_string(i) + " 00 01");
        }
        const auto& answers = m.bus.monitor().answers();
        EXPECT_EQ(answers[2], order.size() == 4 ? "00 03 00 00 00 05 01 03 02 00 66" : "Time out");
        EXPECT_EQ(answers.back(), "77 77 00 00 00 05 01 03 02 00 63 (Late answer)");
    }
}

}  // namespace
}  // namespace tarvel::integration
