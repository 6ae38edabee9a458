// tarvel-sim on the demo map answers a libmodbus RTU master on its
// pseudo-terminal, floats included, and leaves cleanly on SIGTERM; it
// answers a TCP master and RTU frames over TCP too, and the faults it plays
// are the errors libmodbus names. ("drop" and a new connection after it:
// BothFramings.AReadAndADroppedConnectionMadeAgain.)

#include <gtest/gtest.h>
#include <modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "SimProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvel::test;

// The port of the "KIND 127.0.0.1:PORT" line of a listener; 0 without one.
int PortOf(SimProcess& sim, const std::string& kind) {
    const std::string head = kind + " 127.0.0.1:";
    const auto line = sim.process().waitForLine(
        ChildProcess::Out, [&](const std::string& l) { return l.rfind(head, 0) == 0; }, 5s);
    return line ? std::atoi(line->c_str() + head.size()) : 0;
}

// The demo map with two nodes of faults beside it (9 and 10): the float
// meter's voltage and frequency as libmodbus's getters read the two orders,
// and each fault as libmodbus sees it on the pseudo-terminal, over Modbus
// TCP and as RTU frames over TCP (libmodbus's RTU master on a plain TCP
// connection): a fault of one register spares the others, and a silent node
// or a cut answer runs out the master's time. SIGTERM ends it cleanly.
TEST(Simulator, AnswersLibmodbusMastersWithTheErrorsTheyNameAndLeavesOnSigterm) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        ReadFile(TARVEL_DEMO_MAP) +
            "\nnode 9\nholding 0 7\nfault 9 holding 1 exception 2\nfault 9 holding 2 badcrc\n"
            "fault 9 holding 3 wrongnode\nfault 9 holding 4 partial 4\nfault 9 holding 5 wrongtid\n"
            "fault 10 silent\n",
        {"--tcp", "0", "--rtu-tcp", "0"}))
        << testing::PrintToString(sim.process().lines(ChildProcess::Err));
    const int tcpPort = PortOf(sim, "tcp"), rtuPort = PortOf(sim, "rtu-tcp");
    modbus_t* rtu = modbus_new_rtu(sim.link().c_str(), 9600, 'N', 8, 1);
    modbus_t* tcp = modbus_new_tcp("127.0.0.1", tcpPort);
    ASSERT_TRUE(modbus_connect(rtu) == 0 && modbus_connect(tcp) == 0) << modbus_strerror(errno);
    const int line = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{
        AF_INET, htons(static_cast<std::uint16_t>(rtuPort)), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::connect(line, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << rtuPort;
    modbus_t* overTcp = modbus_new_rtu("tcp-line", 9600, 'N', 8, 1);
    modbus_set_socket(overTcp, line);

    std::uint16_t floats[4] = {};
    modbus_set_slave(rtu, 4);
    ASSERT_EQ(modbus_read_input_registers(rtu, 0, 4, floats), 4) << modbus_strerror(errno);
    EXPECT_EQ(modbus_get_float_abcd(floats), 230.1f);
    EXPECT_EQ(modbus_get_float_cdab(floats + 2), 50.02f);

    using Case = std::tuple<modbus_t*, int, int, int>;  // master, node, register, errno
    for (const auto& [master, node, address, error] :
         {Case{rtu, 9, 0, 0}, Case{rtu, 9, 1, EMBXILADD}, Case{rtu, 9, 2, EMBBADCRC},
          Case{rtu, 9, 3, EMBBADSLAVE}, Case{rtu, 9, 4, ETIMEDOUT}, Case{rtu, 10, 0, ETIMEDOUT},
          Case{tcp, 9, 1, EMBXILADD}, Case{tcp, 9, 5, EMBBADDATA}, Case{tcp, 9, 0, 0},
          Case{overTcp, 9, 2, EMBBADCRC}, Case{overTcp, 10, 0, ETIMEDOUT},
          Case{overTcp, 9, 0, 0}}) {
        SCOPED_TRACE(std::to_string(node) + " " + std::to_string(address));
        modbus_set_response_timeout(master, 0, 300000);
        modbus_set_slave(master, node);
        std::uint16_t value = 0;
        errno = 0;
        const int read = modbus_read_registers(master, address, 1, &value);
        EXPECT_EQ(read == 1 ? 0 : errno, error) << modbus_strerror(errno);
        EXPECT_EQ(value, read == 1 && address == 0 ? 7 : 0);
        modbus_flush(master);
    }
    modbus_free(rtu);
    modbus_free(tcp);
    modbus_free(overTcp);  // the socket stays open
    ::close(line);

    ASSERT_TRUE(sim.process().signal(SIGTERM));
    EXPECT_EQ(sim.process().waitExit(3s), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.controlPath())));
}

}  // namespace
