// The master on fake ports: the RTU frames against worked examples, the
// monitor, failed exchanges, the Modbus TCP framing on a port that reports
// a network link, and the network port's address text. The TCP frames are
// Python's struct.pack('>HHHBB...') of the MBAP fields.

#include <gtest/gtest.h>
#include <netdb.h>

#include <thread>
#include <tuple>

#include "TestBench.h"
#include "platform/posix/TcpConnection.h"

namespace tarvel::test {
namespace {

// Frames whose bytes come from the protocol's published worked examples.
TEST(Frame, ReadRequestsMatchReferenceFramesAndAnswersAreChecked) {
    // Node, function, address and the frame.
    using F = std::tuple<std::uint8_t, std::uint8_t, std::uint16_t, const char*>;
    const F cases[] = {
        {1, 3, 0, "01 03 00 00 00 01 84 0A"},   {1, 4, 16, "01 04 00 10 00 01 30 0F"},
        {17, 1, 19, "11 01 00 13 00 01 0E 9F"}, {1, 2, 0, "01 02 00 00 00 01 B9 CA"},
        {0, 3, 0, "00 03 00 00 00 01 85 DB"},
    };
    for (const auto& [node, function, address, frame] : cases)
        EXPECT_EQ(ReadFrame(node, function, address), FromHex(frame)) << frame;
    // Addresses held as negative 16-bit numbers go out as two's complement
    // (these CRCs and the ones below worked out with a separate bit-wise
    // CRC-16 in Python).
    EXPECT_EQ(ReadFrame(1, 3, static_cast<std::uint16_t>(-1)),
              FromHex("01 03 FF FF 00 01 84 2E"));
    EXPECT_EQ(ReadFrame(1, 3, static_cast<std::uint16_t>(-25535)),
              FromHex("01 03 9C 41 00 01 FA 4E"));
    // The CRC-16/MODBUS catalogue's check value, and every byte value once.
    EXPECT_EQ(CalcolaCRC(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0x4B37);
    Bytes everyByte(256);
    for (int i = 0; i < 256; ++i) everyByte[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(CalcolaCRC(everyByte), 0xDE6C);

    // Answers are checked before use.
    Bytes request = ReadFrame(1, 3, 0);
    Bytes good = FromHex("01 03 02 FF FF B9 F4");
    EXPECT_EQ(CheckAnswer(request, good), TransactionResult::Complete);
    // Trailing noise after a complete answer does not spoil it.
    EXPECT_EQ(CheckAnswer(request, FromHex("01 03 02 FF FF B9 F4 00")),
              TransactionResult::Complete);

    // Right CRC, but from node 2, for function 4, or with a wrong byte count.
    for (const char* foreign :
         {"02 03 02 00 01 3D 84", "01 04 02 00 01 78 F0", "01 03 03 00 01 28 44"})
        EXPECT_EQ(CheckAnswer(request, FromHex(foreign)), TransactionResult::WrongAnswer);

    EXPECT_TRUE(ExceptionAnswer(request, FromHex("01 83 02 C0 F1")));
    EXPECT_FALSE(ExceptionAnswer(request, FromHex("01 83 02 C0 F0")));
    EXPECT_FALSE(ExceptionAnswer(ReadFrame(2, 3, 0), FromHex("01 83 02 C0 F1")));

    // What the monitor writes after an answer line that failed.
    using E = TransactionResult;
    for (const auto& [verdict, text] : {std::pair{E::TimeOut, " Time out"},
                                       {E::Broadcast, " Broadcast"},
                                       {E::Partial, " (Exception)"},
                                       {E::Exception, " (Exception)"},
                                       {E::WrongAnswer, " (Wrong answer)"},
                                       {E::PortFailure, " (Port error)"}})
        EXPECT_STREQ(ResultText(verdict), text);
}

// An identification answer is as long as its objects say, and is refused
// when that is longer than the protocol lets a frame be (256 bytes on a
// serial line, 260 on Modbus TCP); so is a read answer whose byte count
// says so. CRCs from a separate CRC-16 in Python.
TEST(Frame, AnAnswerIsAsLongAsItsHeaderSaysAndNoLongerThanAFrame) {
    Bytes longest = FromHex("01 03 FA");
    longest.insert(longest.end(), 250, 0);
    for (const std::uint8_t b : FromHex("08 E8")) longest.push_back(b);
    EXPECT_EQ(RtuFrameAtFront(longest).kind, FrameAtFront::Whole);
    EXPECT_EQ(RtuFrameAtFront(longest).length, 255u);
    // A byte count of 253: 258 bytes, with a right CRC, refused from its
    // header on.
    Bytes beyond = FromHex("01 03 FD");
    EXPECT_EQ(RtuFrameAtFront(beyond).kind, FrameAtFront::NotAFrame);
    beyond.insert(beyond.end(), 253, 0);
    for (const std::uint8_t b : FromHex("CC 35")) beyond.push_back(b);
    EXPECT_EQ(RtuFrameAtFront(beyond).kind, FrameAtFront::NotAFrame);

    Bytes rtuRequest{0x05};
    const Bytes pdu = DeviceIdPdu(0);
    rtuRequest.insert(rtuRequest.end(), pdu.begin(), pdu.end());
    EXPECT_EQ(CheckAnswer(rtuRequest, FromHex("05 2B 0E 01 01 00 00 01 00 03 41 42 43 23 E7")),
              TransactionResult::Complete);
    // Two objects of 250 and 1 bytes: 265 bytes with a right CRC.
    Bytes tooLong = FromHex("05 2B 0E 01 01 00 00 02 00 FA");
    tooLong.insert(tooLong.end(), 250, 'A');
    for (const std::uint8_t b : FromHex("01 01 42 C2 85")) tooLong.push_back(b);
    EXPECT_EQ(CheckAnswer(rtuRequest, tooLong), TransactionResult::WrongAnswer);
    EXPECT_EQ(RtuFrameAtFront(tooLong).kind, FrameAtFront::NotAFrame);

    const Bytes tcpRequest = TcpFrame(0x05, pdu, 0x1234);
    EXPECT_EQ(CheckTcpAnswer(tcpRequest, FromHex("12 34 00 00 00 0D 05 2B 0E 01 01 00 00 01 00 03 "
                                                 "41 42 43")),
              TransactionResult::Complete);
    // The same two objects behind an MBAP header that counts them: 269 bytes.
    Bytes tcpTooLong = FromHex("12 34 00 00 01 07");
    tcpTooLong.insert(tcpTooLong.end(), tooLong.begin(), tooLong.end() - 2);
    EXPECT_EQ(CheckTcpAnswer(tcpRequest, tcpTooLong), TransactionResult::WrongAnswer);
}

// The master on a fake port with a scripted device; the monitor is shown.
struct Linea : Banco {
    MBus& m = prog.mbus();
    Linea() {
        profile(0);
        EXPECT_TRUE(prog.ImpostaPortaSeriale(0));
        m.ImpostaMonitorAttivo(true);
    }
};

// Failed exchanges, an unplugged device, the monitor's capacity, and the
// answers checked before use. The values read, scaled and signed, are
// tested through request lines.
TEST(Modbus, FailedExchangesAndAnswersCheckedBeforeTheyBecomeValues) {
    Linea l;
    // An unsupported function sends nothing.
    EXPECT_EQ(l.m.LeggiValore16(5, 0, 1, 0, false), std::nullopt);
    EXPECT_TRUE(l.fp.port.written().empty());
    l.device.values[{3, 12}] = 0xFFFF;
    EXPECT_EQ(l.m.LeggiValore16(3, 12, 1, 0, false), -1);
    EXPECT_EQ(l.fp.port.written().back(), FromHex("01 03 00 0C 00 01 44 09"));

    // A write that the open port refuses is a port error; the attempt still
    // takes its time-out, so the cycle keeps its pace.
    l.fp.port.refuseWrites = true;
    const Millis first = l.fp.clock.elapsed();
    EXPECT_EQ(l.m.EseguiTransazione(1, 3, 0, 1).outcome, TransactionResult::PortFailure);
    EXPECT_EQ(l.fp.clock.elapsed() - first, Millis(800));

    // An unplugged device fails the reads until it is back. It is opened
    // again at once, and after a failed opening at most once a second (a
    // connection that the gateway closed:
    // BothFramings.AConnectionTheGatewayClosedIsMadeAgainBeforeTheNextRequest).
    l.fp.port.refuseWrites = false;
    l.device.values[{3, 0}] = 42;
    ASSERT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), 42);
    const auto attempts = [&] { return l.m.counters().reopens; };
    l.fp.port.unplug();
    EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), std::nullopt);
    EXPECT_EQ(attempts(), 1u);
    EXPECT_FALSE(l.fp.port.isOpen());
    l.fp.port.plug();
    EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), std::nullopt);  // 800 ms after it
    EXPECT_EQ(attempts(), 1u);
    EXPECT_EQ(l.m.LeggiValore16(3, 0, 1, 0, false), 42);
    EXPECT_EQ(attempts(), 2u);
    EXPECT_TRUE(l.fp.port.isOpen());

    // At its capacity the monitor empties both lists; hidden, it logs nothing.
    const auto& tx = l.m.monitor().requests();
    const auto& rx = l.m.monitor().answers();
    while (tx.size() < MonitorLog::Capacity) l.m.LeggiHex(3, 0, 0, 1);
    EXPECT_EQ(rx.size(), MonitorLog::Capacity);
    l.m.LeggiHex(3, 0, 0, 1);
    EXPECT_EQ(tx.size() + rx.size(), 2u);
    l.m.ImpostaMonitorAttivo(false);
    l.m.LeggiHex(3, 0, 0, 1);
    EXPECT_EQ(tx.size(), 1u);

    // A partial answer shows as an exception at the time-out; a single stray
    // byte counts as nothing; wrong CRC and foreign answers fail the attempt.
    using Case = std::tuple<fakes::ScriptedDevice, TransactionResult, const char*>;
    const Case answers[] = {
        {{.exception = 2}, TransactionResult::Exception, "exception 2"},
        {{.partialBytes = 4}, TransactionResult::Partial, "four bytes"},
        {{.partialBytes = 1}, TransactionResult::TimeOut, "one byte"},
        {{.badCrc = true}, TransactionResult::CrcError, "bad CRC"},
    };
    for (const auto& [device, verdict, what] : answers) {
        SCOPED_TRACE(what);
        Linea k;
        k.m.ImpostaRetry(2);
        k.device = device;
        k.device.values[{3, 0}] = 7;
        const TimePoint start = k.fp.clock.now();
        const MBus::ItemsRead readResult = k.m.ReadItems(3, {0}, 1);
        EXPECT_EQ(readResult.items, std::nullopt);
        EXPECT_EQ(k.device.requests, 2) << "every failure is retried";
        EXPECT_EQ(readResult.last.outcome, verdict);
        if (verdict != TransactionResult::Exception) continue;
        // An exception answer ends the wait as soon as it is complete.
        EXPECT_LT(k.fp.clock.now() - start, Millis(50));
        EXPECT_EQ(readResult.last.exceptionCode, 2);
        EXPECT_EQ(k.m.health().nodes().at(1).exceptions.at(2), 2u);
    }
}

// After a time-out the node's answer may still come, looking like the
// answer to any read of the same function and length. The next different
// request to the node goes after a fence, function 8 with a token that
// changes with each fence; the device answers it after every late answer it
// owed, which are dropped and shown as late. The same request again needs
// no fence. A device without diagnostics refuses the fence with exception
// 0x88, which does as well; one that never answers a fence but answers
// reads is told by the answer it gives past it, and gets the timed guard
// instead: the next different request after a time-out waits one more
// time-out. (Frames: struct.pack and a bit-wise CRC-16 in Python.)
TEST(Modbus, AFenceGoesBeforeADifferentRequestAfterATimeOut) {
    const char* const r20 = "01 03 00 14 00 01 C4 0E";
    const char* const r12 = "01 03 00 0C 00 01 44 09";
    const char* const r13 = "01 03 00 0D 00 01 15 C9";
    using Scritte = std::vector<Bytes>;
    const auto scritte = [](std::initializer_list<const char*> frames) {
        Scritte out;
        for (const char* f : frames) out.push_back(FromHex(f));
        return out;
    };
    for (const int risposteFunzione8 : {1, 0, -1}) {  // echo, exception, nothing
        SCOPED_TRACE(risposteFunzione8);
        Linea l;
        l.m.ImpostaTimeOut(300);
        l.device.values = {{{3, 20}, 0x1234}, {{3, 12}, 0x08FD}, {{3, 13}, 7}};
        l.device.diagnostics = risposteFunzione8 == 1;
        l.fp.port.setDevice([&](const Bytes& r) {
            if (r[1] == 8 && risposteFunzione8 < 0) return std::vector<fakes::Delivery>{};
            auto a = l.device(r);
            if (r[3] == 20) a.front().delay = Millis(400);
            return a;
        });
        EXPECT_EQ(l.m.LeggiValore16(3, 20, 1, 0, false), std::nullopt);
        const std::optional<double> dodici = l.m.LeggiValore16(3, 12, 1, 0, false);
        const auto& rx = l.m.monitor().answers();
        if (risposteFunzione8 >= 0) {
            EXPECT_EQ(dodici, 0x08FD);
            EXPECT_EQ(l.fp.port.written(), scritte({r20, "01 08 00 00 00 01 21 CB", r12}));
            EXPECT_EQ(rx, (std::vector<std::string>{
                              "Time out",
                              risposteFunzione8 ? "01 08 00 00 00 01 21 CB" : "01 88 01 87 C0",
                              "01 03 02 12 34 B5 33 (Late answer)", "01 03 02 08 FD 7E 05"}));
            // The same request again goes alone, and takes the late answer
            // of the one before.
            EXPECT_EQ(l.m.LeggiValore16(3, 20, 1, 0, false), std::nullopt);
            EXPECT_EQ(l.m.LeggiValore16(3, 20, 1, 0, false), 0x1234);
            EXPECT_EQ(l.fp.port.written().size(), 5u);
            continue;
        }
        // The fence's time-out, then 12's answer comes past the fence: it
        // is dropped, and 13 waits one more time-out after 12's (and, that
        // wait having seen nothing, the silence that ends a frame after its
        // answer: 5 ms at 9600 baud).
        EXPECT_EQ(dodici, std::nullopt);
        EXPECT_EQ(rx.back(), "01 03 02 08 FD 7E 05 (Late answer)");
        const Millis first = l.fp.clock.elapsed();
        EXPECT_EQ(l.m.LeggiValore16(3, 13, 1, 0, false), 7);
        EXPECT_EQ(l.fp.clock.elapsed() - first, Millis(300 + 5 + 5));
        EXPECT_EQ(l.m.LeggiValore16(3, 20, 1, 0, false), std::nullopt);
        EXPECT_EQ(l.m.LeggiValore16(3, 12, 1, 0, false), 0x08FD);
        EXPECT_EQ(l.fp.port.written(),
                  scritte({r20, "01 08 00 00 00 01 21 CB", r12, r13, r20, r12}));
    }
}

struct ModbusTcpPort : fakes::FakeSerialPort {
    using FakeSerialPort::FakeSerialPort;
    LinkKind linkKind() const override { return LinkKind::ModbusTcp; }
    std::string linkAddress() const override { return "gateway:502"; }
};

struct Gateway {
    fakes::FakeClock clock;
    ModbusTcpPort port{clock};
    MBus m{port, clock};
    Bytes answer;  // given "00 00": with the request's transaction identifier
    Gateway() {
        EXPECT_TRUE(m.ConfiguraPorta("1", "9600,N,8,1", 0, true, false, false));
        EXPECT_TRUE(m.ApriPorta(true));
        port.setDevice([this](const Bytes& request) {
            Bytes a = answer;
            if (a.size() >= 2 && a[0] == 0 && a[1] == 0) a[0] = request[0], a[1] = request[1];
            return std::vector<fakes::Delivery>{{Millis(3), a}};
        });
    }
};

TEST(ModbusTcp, RequestsAndAnswersTravelInTheMbapFramingWhoseHeaderIsChecked) {
    Gateway g;
    // Register 40000 of unit 7; zero bytes are data here, not noise.
    g.answer = FromHex("00 01 00 00 00 05 07 03 02 12 34");
    EXPECT_EQ(g.m.LeggiValore16(3, static_cast<std::int16_t>(40000 - 65536), 7, 0, true), 0x1234);
    EXPECT_EQ(g.port.written().back(), FromHex("00 01 00 00 00 06 07 03 9C 40 00 01"));

    // An exception answer is complete at its nine bytes; the transaction
    // identifier grows with every request.
    g.answer = FromHex("00 00 00 00 00 03 07 83 02");
    const Transaction isException = g.m.EseguiTransazione(7, 3, 0, 1);
    EXPECT_EQ(isException.outcome, TransactionResult::Exception);
    EXPECT_EQ(isException.exceptionCode, 2);
    EXPECT_EQ(isException.received, FromHex("00 02 00 00 00 03 07 83 02"));
    EXPECT_EQ(g.port.written().back()[1], 2);
    EXPECT_LT(g.clock.elapsed(), Millis(20));

    // Coils and a block of input registers.
    g.answer = FromHex("00 00 00 00 00 05 07 01 02 A5 03");
    EXPECT_EQ(g.m.ReadBlock(1, 5, 10, 7).bits, FromHex("A5 03"));
    EXPECT_EQ(g.port.written().back(), FromHex("00 03 00 00 00 06 07 01 00 05 00 0A"));
    g.answer = FromHex("00 00 00 00 00 09 07 04 06 00 01 00 02 FF FF");
    const Transaction block = g.m.ReadBlock(4, 100, 3, 7);
    EXPECT_EQ(block.registers, (std::vector<std::uint16_t>{1, 2, 0xFFFF}));
    EXPECT_EQ(g.port.written().back(), FromHex("00 04 00 00 00 06 07 04 00 64 00 03"));

    // An answer is used only when every header field matches: not with
    // length 6, protocol 1, unit 8, function 4, byte count 3, nor as two
    // answers.
    for (const char* answer :
         {"00 00 00 00 00 06 07 03 02 12 34", "00 00 00 01 00 05 07 03 02 12 34",
          "00 00 00 00 00 05 08 03 02 12 34", "00 00 00 00 00 05 07 04 02 12 34",
          "00 00 00 00 00 05 07 03 03 12 34", "00 00 00 00 00 05 07 03 02 12 34 00 00"}) {
        SCOPED_TRACE(answer);
        Gateway otherWidget;
        otherWidget.answer = FromHex(answer);
        EXPECT_EQ(otherWidget.m.EseguiTransazione(7, 3, 0, 1).outcome, TransactionResult::WrongAnswer);
    }

    // An answer with another transaction identifier is a late one: dropped,
    // shown as such, and the wait goes on for the right one; with no right
    // one the read times out.
    Gateway tardi;
    tardi.m.ImpostaMonitorAttivo(true);
    tardi.port.setDevice([](const Bytes& request) {
        Bytes vecchia = FromHex("00 00 00 00 00 05 07 03 02 00 01");
        vecchia[1] = static_cast<std::uint8_t>(request[1] - 1);
        Bytes propria = FromHex("00 00 00 00 00 05 07 03 02 12 34");
        propria[1] = request[1];
        return std::vector<fakes::Delivery>{{Millis(3), vecchia}, {Millis(5), propria}};
    });
    EXPECT_EQ(tardi.m.LeggiValore16(3, 0, 7, 0, false), 0x1234);
    EXPECT_EQ(tardi.m.monitor().answers(),
              (std::vector<std::string>{"00 01 00 00 00 05 07 03 02 12 34",
                                        "00 00 00 00 00 05 07 03 02 00 01 (Late answer)"}));
    tardi.port.setDevice([](const Bytes&) {
        return std::vector<fakes::Delivery>{
            {Millis(3), FromHex("00 00 00 00 00 05 07 03 02 00 01")}};
    });
    EXPECT_EQ(tardi.m.EseguiTransazione(7, 3, 0, 1).outcome, TransactionResult::TimeOut);
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
    using A = std::tuple<const char*, LinkKind, const char*>;  // text, kind, address
    const A casi[] = {
        {"tcp://192.168.1.20:4001", LinkKind::RtuOverTcp, "192.168.1.20:4001"},
        {"TCP://gw.local:26", LinkKind::RtuOverTcp, "gw.local:26"},
        {"mbtcp://10.0.0.5", LinkKind::ModbusTcp, "10.0.0.5:502"},
        {"mbtcp://[::1]:1502", LinkKind::ModbusTcp, "[::1]:1502"},
        {"mbtcp://[fe80::1]", LinkKind::ModbusTcp, "[fe80::1]:502"},
    };
    std::string error;
    for (const auto& [text, kind, addr] : casi) {
        const auto a = ParseNetworkAddress(text, error);
        ASSERT_TRUE(a) << text;
        EXPECT_EQ(std::pair(a->kind, a->text()), std::pair(kind, std::string(addr)));
    }
    // A refusal names the device text. A gateway's port has no default;
    // IPv6 goes in brackets.
    for (const std::string text :
         {"tcp://host", "tcp://host:0", "tcp://host:65536", "tcp://a b:1",
          "mbtcp://host:", "tcp://host:1;rm", "mbtcp://:502", "mbtcp://::1:502", "tcp://[[7]:150",
          "tcp://a]b:1", "/dev/ttyUSB0"}) {
        EXPECT_FALSE(ParseNetworkAddress(text, error)) << text;
        EXPECT_TRUE(error.starts_with(text + ": ")) << error;
    }
    // A name that is not resolved in time is given up.
    LookupThread lookups;
    const Connection c =
        ConnectTcp({LinkKind::ModbusTcp, "gateway.example", 502}, Millis(30), lookups, SlowLookup);
    EXPECT_EQ(c.error, "gateway.example: name not resolved in time");
}

}  // namespace
}  // namespace tarvel::test
