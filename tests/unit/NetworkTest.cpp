// The master in the Modbus TCP framing, on a fake port that reports a
// network link, and the network port's address text. The frames are
// Python's struct.pack('>HHHBB...') of the MBAP fields.

#include <gtest/gtest.h>
#include <netdb.h>

#include <sstream>
#include <thread>

#include "FakeSerialPort.h"
#include "modbus/MBus.h"
#include "platform/posix/TcpConnection.h"

namespace tarvel::test {
namespace {

using fakes::Delivery;
using fakes::FakeClock;

Bytes FromHex(const std::string& text) {
    std::istringstream in(text);
    Bytes bytes;
    for (unsigned value = 0; in >> std::hex >> value;)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

struct ModbusTcpPort : fakes::FakeSerialPort {
    using FakeSerialPort::FakeSerialPort;
    LinkKind linkKind() const override { return LinkKind::ModbusTcp; }
    std::string linkAddress() const override { return "gateway:502"; }
};

struct Gateway {
    FakeClock clock;
    ModbusTcpPort port{clock};
    MBus m{port, clock};
    Bytes answer;  // given with the request's transaction identifier
    Gateway() {
        EXPECT_TRUE(m.ConfiguraPorta("1", "9600,N,8,1", 0, true, false, false));
        EXPECT_TRUE(m.ApriPorta(true));
        m.ImpostaMonitorAttivo(true);
        port.setDevice([this](const Bytes& request) {
            Bytes a = answer;
            if (a.size() >= 2 && request.size() >= 2) a[0] = request[0], a[1] = request[1];
            return std::vector<Delivery>{{Millis(3), a}};
        });
    }
};

TEST(ModbusTcp, RequestsAndAnswersTravelInTheMbapFraming) {
    Gateway g;
    EXPECT_EQ(g.m.LeggiRete(), "mbtcp gateway:502");
    // Register 40000 of unit 7; zero bytes are data here, not noise.
    g.answer = FromHex("00 01 00 00 00 05 07 03 02 12 34");
    EXPECT_EQ(g.m.LeggiValore16(3, static_cast<std::int16_t>(40000 - 65536), 7, 0, true), 0x1234);
    EXPECT_EQ(g.port.written().back(), FromHex("00 01 00 00 00 06 07 03 9C 40 00 01"));
    EXPECT_EQ(g.m.monitor().risposte().back(), "00 01 00 00 00 05 07 03 02 12 34");

    // An exception answer is complete at its nine bytes; the transaction
    // identifier grows with every request.
    g.answer = FromHex("00 00 00 00 00 03 07 83 02");
    EXPECT_EQ(g.m.LeggiValore16(3, 0, 7, 0, false), std::nullopt);
    EXPECT_EQ(g.m.esito(), EsitoTransazione::Eccezione);
    EXPECT_EQ(g.m.codiceEccezione(), 2);
    EXPECT_EQ(g.port.written().back()[1], 2);
    EXPECT_LT(g.clock.elapsed(), Millis(20));

    // Coils and a block of input registers.
    g.answer = FromHex("00 00 00 00 00 05 07 01 02 A5 03");
    ASSERT_TRUE(g.m.LeggiBlocco(1, 5, 10, 7));
    EXPECT_EQ(g.port.written().back(), FromHex("00 03 00 00 00 06 07 01 00 05 00 0A"));
    g.answer = FromHex("00 00 00 00 00 09 07 04 06 00 01 00 02 FF FF");
    const auto blocco = g.m.LeggiBlocco(4, 100, 3, 7);
    ASSERT_TRUE(blocco);
    EXPECT_EQ(blocco->dati, FromHex("00 01 00 02 FF FF"));
    EXPECT_EQ(g.port.written().back(), FromHex("00 04 00 00 00 06 07 04 00 64 00 03"));
}

TEST(ModbusTcp, AnAnswerIsUsedOnlyWhenEveryHeaderFieldMatches) {
    const struct {
        const char* caso;
        const char* risposta;  // the transaction identifier is the request's
    } casi[] = {
        {"protocol 1", "00 00 00 01 00 05 07 03 02 12 34"},
        {"length 6", "00 00 00 00 00 06 07 03 02 12 34"},
        {"unit 8", "00 00 00 00 00 05 08 03 02 12 34"},
        {"function 4", "00 00 00 00 00 05 07 04 02 12 34"},
        {"byte count 3", "00 00 00 00 00 05 07 03 03 12 34"},
        {"two answers", "00 00 00 00 00 05 07 03 02 12 34 00 00"},
    };
    for (const auto& c : casi) {
        SCOPED_TRACE(c.caso);
        Gateway g;
        g.answer = FromHex(c.risposta);
        EXPECT_EQ(g.m.LeggiValore16(3, 0, 7, 0, false), std::nullopt);
        EXPECT_EQ(g.m.esito(), EsitoTransazione::RispostaErrata);
        EXPECT_TRUE(g.m.monitor().risposte().back().ends_with(" (Wrong answer)"));
    }
    // A transaction identifier that is not the request's.
    Gateway g;
    g.port.setDevice([](const Bytes&) {
        return std::vector<Delivery>{{Millis(3), FromHex("00 09 00 00 00 05 07 03 02 12 34")}};
    });
    EXPECT_EQ(g.m.LeggiValore16(3, 0, 7, 0, false), std::nullopt);
    EXPECT_EQ(g.m.esito(), EsitoTransazione::RispostaErrata);
}

// A name server that takes a second to answer a name: the connection is
// given up at its limit, and a numeric address needs no name server.
int SlowLookup(const char*, const char*, const addrinfo* hints, addrinfo** result) {
    *result = nullptr;
    if (hints->ai_flags & AI_NUMERICHOST) return EAI_NONAME;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return EAI_AGAIN;
}

TEST(NetworkAddress, DeviceTextsNameTheKindHostAndPortAndASlowNameIsGivenUp) {
    const struct {
        const char* testo;
        std::optional<LinkKind> tipo;
        const char* indirizzo;
    } casi[] = {
        {"tcp://192.168.1.20:4001", LinkKind::RtuOverTcp, "192.168.1.20:4001"},
        {"TCP://gw.local:26", LinkKind::RtuOverTcp, "gw.local:26"},
        {"mbtcp://10.0.0.5", LinkKind::ModbusTcp, "10.0.0.5:502"},
        {"mbtcp://[::1]:1502", LinkKind::ModbusTcp, "[::1]:1502"},
        {"mbtcp://[fe80::1]", LinkKind::ModbusTcp, "[fe80::1]:502"},
        {"tcp://host", std::nullopt, ""},  // a gateway's port has no default
        {"tcp://host:0", std::nullopt, ""},
        {"tcp://host:65536", std::nullopt, ""},
        {"mbtcp://host:", std::nullopt, ""},
        {"mbtcp://:502", std::nullopt, ""},
        {"mbtcp://::1:502", std::nullopt, ""},  // IPv6 goes in brackets
        {"tcp://a b:1", std::nullopt, ""},
        {"tcp://host:1;rm", std::nullopt, ""},
        {"/dev/ttyUSB0", std::nullopt, ""},
    };
    for (const auto& c : casi) {
        SCOPED_TRACE(c.testo);
        std::string errore;
        const auto a = ParseNetworkAddress(c.testo, errore);
        ASSERT_EQ(a.has_value(), c.tipo.has_value());
        if (a) {
            EXPECT_EQ(a->kind, *c.tipo);
            EXPECT_EQ(a->text(), c.indirizzo);
        } else {
            EXPECT_NE(errore.find(c.testo), std::string::npos) << errore;
        }
    }
    // A name that is not resolved in time is given up.
    std::string errore;
    const auto a = ParseNetworkAddress("mbtcp://gateway.example", errore);
    ASSERT_TRUE(a);
    const auto start = std::chrono::steady_clock::now();
    const Connection c = ConnectTcp(*a, Millis(30), SlowLookup);
    EXPECT_LT(std::chrono::steady_clock::now() - start, Millis(500));
    EXPECT_EQ(c.fd, -1);
    EXPECT_EQ(c.error, "gateway.example: name not resolved in time");
}

}  // namespace
}  // namespace tarvel::test
