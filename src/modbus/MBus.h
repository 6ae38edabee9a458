#pragma once
// The Modbus master on the line: port configuration, one request/answer
// exchange in the line's framing (RTU, or Modbus TCP on a network port),
// and the value reads with their retries and scaling.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "modbus/AnswerOrder.h"
#include "modbus/Framing.h"
#include "modbus/Health.h"
#include "modbus/MonitorLog.h"
#include "modbus/Transaction.h"
#include "modbus/TransactionResult.h"
#include "modbus/Value.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace tarvel {

// How the monitor writes bytes: "001 003" or "01 03".
enum class Notation : std::uint8_t { Decimal = 0, Hexadecimal = 1 };

class MBus {
  public:
    static constexpr std::int32_t DefaultTimeOut = 800;
    static constexpr std::int32_t MaxTimeOut = 10000;

    MBus(SerialPort& port, Clock& clock);

    // Port configuration: each returns false when the port refuses a value.
    bool ConfiguraPorta(const std::string& com, const std::string& settings, int handshaking,
                        bool nullDiscard, bool dtr, bool rts);
    // After a refused ConfiguraPorta: true when the port number (or the
    // device it names) was refused, false when the line settings were.
    bool numberRefused() const { return numberRefused_; }
    bool ApriPorta(bool openOutput);
    // Whole milliseconds 0 to MaxTimeOut; false (nothing changes) otherwise.
    bool ImpostaTimeOut(std::int32_t millis);
    std::int32_t LeggiTimeOut() const { return timeOutMs_; }
    // At least 1; a smaller count sets 1 and gives false.
    bool ImpostaRetry(std::int32_t attempts);
    std::int32_t LeggiRetry() const { return retry_; }
    // The least time from the end of one exchange to the next request; 0
    // (the default) sends at once.
    void SetSilence(std::chrono::microseconds silence) { silence_ = silence; }
    // An adapter that gives back each frame it sends (RS-485 without echo
    // suppression): the frame's own bytes are read back and checked before
    // the answer is awaited; a wrong or missing echo is a port error. Not
    // on Modbus TCP. Off by default.
    void setEcho(bool on) { echo_ = on; }
    // One attempt and 800 ms, as at every settings load.
    void PredefinitiModbus();
    std::string LeggiCommPort() const;
    std::string LeggiSettings() const;
    // "tcp host:port" or "mbtcp host:port" for a network port; empty for a
    // serial line.
    std::string NetworkText() const;
    // Text of the port's last error, for messages.
    std::string portErrorText() const { return port_.errorText(); }
    PortError openError() const { return port_.openError(); }

    // One exchange of the read request for `quantity` items from
    // `addr`, and what became of it. The monitor and the health
    // counters are given the same value.
    Transaction EseguiTransazione(std::uint8_t node, std::uint8_t function, std::uint16_t addr,
                                  std::uint16_t quantity);

    // Gives a transaction back when its caller is done with it: the next
    // exchange writes its frames and data into its room instead of
    // allocating anew. One that never went out has no room, and the spare
    // stays.
    void Recycle(Transaction&& t) {
        if (t.sent.capacity() < spare_.sent.capacity()) return;
        spare_.sent.swap(t.sent);
        spare_.received.swap(t.received);
        spare_.registers.swap(t.registers);
        spare_.bits.swap(t.bits);
    }

    // One Read Device Identification exchange (function 43, MEI 14, basic
    // objects from `firstObject`): with outcome Complete, `bits` holds the
    // answer from its MEI type to its last object. Never retried.
    Transaction ReadDeviceId(std::uint8_t node, std::uint8_t firstObject);

    // The data of one item at address high * 256 + low as hexadecimal text;
    // nothing when the exchange failed or the function code is not 1 to 4.
    std::optional<std::string> LeggiHex(std::int16_t function, std::int32_t high,
                                        std::int32_t low, std::int16_t node);

    // What a read with its Retry attempts gave: the items when an attempt
    // read them all, and the last exchange that failed (the last one made
    // when none did; nothing sent when the function code is not 1 to 4).
    struct ItemsRead {
        std::optional<ValueItems> items;
        Transaction last;
    };
    // The items at `addrs` (a value's: at most ValueItems::Capacity, else
    // nothing is sent), one request each and all of them in every attempt:
    // a register each, or a coil's or input's whole data byte.
    ItemsRead ReadItems(std::int16_t function, std::span<const std::uint16_t> addrs,
                        std::int16_t node);
    ItemsRead ReadItems(std::int16_t function, std::initializer_list<std::uint16_t> addrs,
                        std::int16_t node) {
        return ReadItems(function, std::span<const std::uint16_t>(addrs.begin(), addrs.size()),
                         node);
    }
    // The scaled value of one item; nothing after Retry failed attempts.
    std::optional<double> LeggiValore16(std::int16_t function, std::int16_t address,
                                        std::int16_t node, std::int16_t decimals, bool isUnsigned);

    // One request for `quantity` items from `start`, with the Retry
    // attempts: the one that succeeded, or the last one (nothing sent when
    // the function code is not 1 to 4 or the quantity 0).
    Transaction ReadBlock(std::uint8_t function, std::uint16_t start, std::uint16_t quantity,
                            std::uint8_t node);

    // One read request of several sent together: `quantity` items from
    // `address`.
    struct ReadRequest {
        std::uint8_t node = 0;
        std::uint8_t function = 0;
        std::uint16_t address = 0;
        std::uint16_t quantity = 1;
    };
    // The requests with up to window() of them out at once, each with its
    // Retry attempts and its own time-out: on Modbus TCP an answer is
    // matched to its request by the transaction identifier (every other
    // check stays), in whatever order the answers come. For each request,
    // what ReadBlock gives: the attempt that succeeded, or the last one. The
    // monitor gets the exchanges in the order of the requests, as one
    // request after the other gives them. With a window of 1, one after the
    // other.
    std::vector<Transaction> ReadInFlight(const std::vector<ReadRequest>& requests);
    // How many requests may be out at once: the profile's Window on Modbus
    // TCP, 1 on any other line.
    int window() const { return framing_ == &FramingTcp ? window_ : 1; }
    void setWindow(int requests) { window_ = requests < 1 ? 1 : requests; }
    LinkKind linkKind() const { return port_.linkKind(); }

    // A new cycle: every node counts as able to answer again.
    void NewCycle();
    // Ends the running wait for an answer at once and sends nothing more
    // until Resume: every exchange fails as a time-out meanwhile. For a
    // stop that must not wait for a long request.
    void Interrupt() { interrupted_ = true; }
    void Resume() { interrupted_ = false; }
    bool interrupted() const { return interrupted_; }
    // A read that is not sent because its node is skipped: the monitor
    // shows it, the node's health counts it.
    void RecordSkipped(std::uint8_t node);

    // Each node's health since start-up or the last ResetHealth.
    const Health& health() const { return health_; }
    void ResetHealth() { health_.reset(); }
    // Takes in the health another master counted (a port polled on its
    // own), which then counts from nothing.
    void takeHealth(MBus& other) {
        health_.add(other.health_);
        other.health_.reset();
    }

    static std::string TestoHex(const Bytes& bytes);
    static std::string TestoDec(const Bytes& bytes);
    // 0: decimal, 1: hexadecimal; any other index changes nothing.
    void ImpostaNotazione(std::int16_t index);
    Notation notation() const { return notation_; }

    // While on, every request and answer goes into the monitor's lists.
    void ImpostaMonitorAttivo(bool enabled) { monitorAttivo_ = enabled; }
    bool monitorAttivo() const { return monitorAttivo_; }
    MonitorLog& monitor() { return monitor_; }
    const MonitorLog& monitor() const { return monitor_; }
    // One request and its answer from another master (a port polled on its
    // own), in the monitor's lists as if logged here.
    void addMonitorPair(std::string request, std::string answer);
    // Called after every change of the monitor's lists.
    void onMonitorChanged(std::function<void()> handler) { monitorChanged_ = std::move(handler); }
    // While kept, every request and answer also goes into a copy in
    // hexadecimal, whatever the monitor does (the web page's).
    void KeepHexCopy(bool kept) { hexCopyKept_ = kept; }
    const MonitorLog& hexCopy() const { return hexCopy_; }

    // Counters that only grow, for reports.
    struct Counters {
        std::uint64_t transactions = 0;
        std::uint64_t failed = 0;
        std::uint64_t reopens = 0;
        // Bytes written to the port and read from it.
        std::uint64_t bytesOnLine = 0;
    };
    const Counters& counters() const { return counters_; }

  private:
    // How a wait for an answer ended: with a whole frame that answers the
    // request at the front of what came, with as many bytes as the answer
    // has that start no frame, or at the time-out.
    enum class WaitEnd : std::uint8_t { Answer, NoFrame, Nothing };
    // How a frame went out: written (and, with Echo, read back), not
    // written, or given back other than it was sent.
    enum class Sent : std::uint8_t { Written, NotWritten, EchoWrong };

    Transaction exchange(Transaction t, const Bytes& pdu, int expectedLength);
    Transaction withSpareRoom(Transaction t);
    std::string bytesText(const Bytes& bytes) const;
    // What came on the port, counted, at the end of `bytes`.
    void readPort(Bytes& bytes);
    void monitorLines(const Bytes* request, const Bytes* answer, const std::string& note);
    void monitorPair(const Bytes& answer, const std::string& note);
    void logRequest(const Bytes& frameBytes);
    void logAnswer(const Bytes& bytes, TransactionResult verdict);
    void observe(const Transaction& t);
    void registerLateFrames();
    void markLost();
    void reopenIfLost();
    bool inOrder(std::uint8_t node) const;
    AnswerOrder& order();
    // The monitor or the hexadecimal copy takes the exchanges.
    bool logging() const { return monitorAttivo_ || hexCopyKept_; }
    void noteLateFrame(ByteView frame);
    template <typename IsAnswer>
    bool dropLateFrames(Bytes& bytes, const IsAnswer& isAnswer);
    Sent sendFrame(const Bytes& frameBytes, Bytes& incoming);
    bool readEcho(const Bytes& frameBytes, Bytes& incoming);
    void prepareNode(std::uint8_t node, const Bytes& pdu);
    void sendFence(std::uint8_t node);
    WaitEnd awaitAnswer(const Bytes& frameBytes, const Bytes& pdu, int expectedLength,
                            Bytes& incoming);
    void judge(Transaction& t, int expectedLength, WaitEnd fine);
    void takeData(Transaction& t, int expectedLength) const;
    void afterAnswer(const Transaction& t, const Bytes& pdu, bool written, WaitEnd fine);
    void awaitGuard(std::uint8_t node, const Bytes& pdu);
    void awaitTrailer(Bytes& incoming);
    void armGuard(std::uint8_t node, const Bytes& pdu);

    // Requests in flight: ReadInFlight's state, and its steps.
    struct Batch;
    void sendInFlight(Batch& b);
    bool collectInFlight(Batch& b);
    void matchInFlight(Batch& b, bool& ended);
    void endInFlight(Batch& b, std::size_t k, WaitEnd fine);
    void logInFlight(Batch& b);

    SerialPort& port_;
    Clock& clock_;
    int window_ = 1;
    const Framing* framing_ = &FramingRtu;
    std::uint16_t transaction_ = 0;  // Modbus TCP: of the last request
    std::int32_t retry_ = 1;
    std::int32_t timeOutMs_ = DefaultTimeOut;
    Notation notation_ = Notation::Hexadecimal;
    bool monitorAttivo_ = false;
    bool numberRefused_ = false;
    std::atomic<bool> interrupted_ = false;  // set from any thread
    std::chrono::microseconds silence_{0};
    bool echo_ = false;
    std::optional<TimePoint> lastExchangeEnd_;
    Transaction spare_;  // given back, for its room
    Bytes readPdu_;      // the read request of the running exchange
    MonitorLog monitor_;
    bool hexCopyKept_ = false;
    MonitorLog hexCopy_;
    std::function<void()> monitorChanged_;
    Counters counters_;
    Health health_;
    // What each node of an RTU line may still owe, by port number: the
    // fences and the late answers.
    std::map<int, AnswerOrder> orders_;
    AnswerOrder* orderInUse_ = nullptr;  // that of orderPort_
    int orderPort_ = 0;
    std::uint16_t fenceToken_ = 0;
    std::vector<Bytes> lateFrames_;  // for the monitor, until the exchange's lines are in
    // A node that never answers a fence: after a time-out, a different
    // request to it waits until one more time-out has passed, and what
    // arrives meanwhile is dropped as a late answer.
    struct Guard {
        bool armed = false;
        std::uint8_t node = 0;
        Bytes pdu;
        TimePoint fine{};
    };
    Guard guard_;
    // Nodes whose fence or guard saw nothing in this cycle: silent, not slow.
    std::array<bool, 256> silentNodes_{};
    // A device that went away while open, or a connection that dropped:
    // opened again at once, and after a failed opening at most once a
    // second.
    bool portLost_ = false;
    std::optional<TimePoint> lastAttempt_;
};

}  // namespace tarvel
