#include "modbus/MBus.h"

#include <algorithm>
#include <cstdio>

#include "modbus/LineSettingsText.h"
#include "modbus/Frame.h"
#include "modbus/Value.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

constexpr Millis ReopenInterval{1000};
std::uint8_t lowByte(std::int32_t value) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFF);
}

std::string hexByte(std::uint8_t b, bool leadingZero) {
    char text[3];
    std::snprintf(text, sizeof text, leadingZero ? "%02X" : "%X", b);
    return text;
}

std::string joinBytes(const Bytes& bytes, const char* format) {
    std::string out;
    char text[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(text, sizeof text, format, bytes[i]);
        if (i) out += ' ';
        out += text;
    }
    return out;
}

// An exchange of the read request, before anything is sent.
[[gnu::hot]] Transaction Request(std::uint8_t node, std::uint8_t function, std::uint16_t addr,
                                 std::uint16_t quantity) {
    Transaction t;
    t.node = node;
    t.function = function;
    t.address = addr;
    t.quantity = quantity;
    return t;
}

}  // namespace

MBus::MBus(SerialPort& port, Clock& clock) : port_(port), clock_(clock) {}

// --- Port configuration -----------------------------------------------------

bool MBus::ConfiguraPorta(const std::string& com, const std::string& settings, int handshaking,
                          bool nullDiscard, bool dtr, bool rts) {
    // The port number is the last two characters of the text.
    std::string digits = com.size() > 2 ? com.substr(com.size() - 2) : com;
    numberRefused_ = true;
    if (digits.empty()) return false;
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    // A new configuration starts afresh: a device lost under the old one is
    // no longer waited for.
    portLost_ = false;
    if (!port_.setPortNumber(std::stoi(digits))) return false;
    numberRefused_ = false;
    const LinkKind link = port_.linkKind();
    framing_ = &FramingOf(link);
    auto linea = ParseLineSettings(settings);
    if (!linea || !port_.setSettings(*linea)) return false;
    port_.discardInput();
    // Flow control, the zero-byte filter and the modem lines belong to a
    // serial line; on a network port zero bytes are data.
    const bool isSerial = link == LinkKind::Serial;
    port_.setHandshake(isSerial && handshaking >= 0 && handshaking <= 3
                           ? static_cast<Handshake>(handshaking)
                           : Handshake::None);
    port_.setNullDiscard(isSerial && nullDiscard);
    port_.setDtr(isSerial && dtr);
    port_.setRts(isSerial && rts);
    return true;
}

bool MBus::ApriPorta(bool openOutput) {
    if (!openOutput) {
        portLost_ = false;
        port_.close();
        return true;
    }
    if (port_.isOpen()) return true;
    return port_.open();
}

bool MBus::ImpostaTimeOut(std::int32_t millis) {
    if (millis < 0 || millis > MaxTimeOut) return false;
    timeOutMs_ = millis;
    // A network port is reached within the same time as an answer.
    port_.setConnectTimeout(Millis(millis));
    return true;
}

bool MBus::ImpostaRetry(std::int32_t attempts) {
    retry_ = attempts < 1 ? 1 : attempts;
    return attempts >= 1;
}

void MBus::PredefinitiModbus() {
    retry_ = 1;
    ImpostaTimeOut(DefaultTimeOut);
    silence_ = std::chrono::microseconds(0);
    echo_ = false;
    window_ = 1;
}

std::string MBus::LeggiCommPort() const { return std::to_string(port_.portNumber()); }
std::string MBus::LeggiSettings() const { return LineSettingsText(port_.settings()); }

std::string MBus::NetworkText() const {
    switch (port_.linkKind()) {
        case LinkKind::Serial:
            break;
        case LinkKind::RtuOverTcp:
            return "tcp " + port_.linkAddress();
        case LinkKind::ModbusTcp:
            return "mbtcp " + port_.linkAddress();
    }
    return {};
}

// --- Monitor ----------------------------------------------------------------

std::string MBus::TestoHex(const Bytes& bytes) { return joinBytes(bytes, "%02X"); }
std::string MBus::TestoDec(const Bytes& bytes) { return joinBytes(bytes, "%03u"); }

void MBus::ImpostaNotazione(std::int16_t index) {
    if (index == 0 || index == 1) notation_ = static_cast<Notation>(index);
}

// Into the monitor while it is on, and into the hexadecimal copy while it
// is kept: a request line (an empty one for an empty frame) when `request`
// is given, an answer line with its note when `answer` is.
void MBus::monitorLines(const Bytes* request, const Bytes* answer, const std::string& note) {
    const auto add = [&](MonitorLog& log, std::string (*text)(const Bytes&)) {
        if (request) log.addRequest(text(*request));
        if (answer) log.addAnswer(std::string(Trim(text(*answer) + note)));
    };
    if (hexCopyKept_) add(hexCopy_, TestoHex);
    if (!monitorAttivo_) return;
    add(monitor_, notation_ == Notation::Hexadecimal ? TestoHex : TestoDec);
    if (monitorChanged_) monitorChanged_();
}

void MBus::monitorPair(const Bytes& answer, const std::string& note) {
    const Bytes none;
    monitorLines(&none, &answer, note);
}

[[gnu::hot]] void MBus::logRequest(const Bytes& frameBytes) {
    if (logging()) monitorLines(&frameBytes, nullptr, "");
}

[[gnu::hot]] void MBus::logAnswer(const Bytes& bytes, TransactionResult verdict) {
    if (logging()) monitorLines(nullptr, &bytes, ResultText(verdict));
}

void MBus::addMonitorPair(std::string request, std::string answer) {
    monitor_.addRequest(std::move(request));
    if (monitorChanged_) monitorChanged_();
    monitor_.addAnswer(std::move(answer));
    if (monitorChanged_) monitorChanged_();
}

// --- The exchange -----------------------------------------------------------

void MBus::markLost() {
    // The device went away under the open port: close it, so that it can be
    // opened again when the device is back.
    port_.close();
    portLost_ = true;
    lastAttempt_.reset();
}

// A device or a connection that went away is opened again at once, before
// the next frame goes out; an opening that fails is tried again at most
// once a second.
[[gnu::hot]] void MBus::reopenIfLost() {
    if (port_.deviceLost()) markLost();
    if (!portLost_ ||
        (lastAttempt_ && clock_.now() - *lastAttempt_ < ReopenInterval))
        return;
    lastAttempt_ = clock_.now();
    ++counters_.reopens;
    if (port_.open()) portLost_ = false;
}

[[gnu::hot]] AnswerOrder& MBus::order() {
    const int number = port_.portNumber();
    if (!orderInUse_ || orderPort_ != number) {
        orderInUse_ = &orders_[number];
        orderPort_ = number;
    }
    return *orderInUse_;
}

[[gnu::hot]] bool MBus::inOrder(std::uint8_t node) const {
    return framing_ == &FramingRtu && node != 0;
}

[[gnu::hot]] void MBus::registerLateFrames() {
    if (lateFrames_.empty()) return;
    for (const Bytes& frame : lateFrames_) monitorPair(frame, " (Late answer)");
    lateFrames_.clear();
}

void MBus::noteLateFrame(ByteView frame) {
    if (framing_ == &FramingRtu) {
        order().frameDropped(frame[0], frame);
        silentNodes_[frame[0]] = false;
    }
    if (logging()) lateFrames_.emplace_back(frame.begin(), frame.end());
}

// The whole frames at the front of `bytes` that `isAnswer` does not take
// are late answers: noted and taken out. True when the frame now at the
// front is taken.
template <typename IsAnswer>
[[gnu::hot]] bool MBus::dropLateFrames(Bytes& bytes, const IsAnswer& isAnswer) {
    for (;;) {
        const FrameAtFront front = framing_->frameAtFront(bytes);
        if (front.kind != FrameAtFront::Whole) return false;
        const ByteView frame(bytes.data(), front.length);
        if (isAnswer(frame)) return true;
        noteLateFrame(frame);
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(front.length));
    }
}

[[gnu::hot]] void MBus::readPort(Bytes& bytes) {
    const std::size_t before = bytes.size();
    port_.readAllInto(bytes);
    counters_.bytesOnLine += bytes.size() - before;
}

// Sends one frame after the silence that follows the last exchange. What
// came since answers nothing that is out now: whole frames in it are late
// answers, the rest is dropped. A device that went away is opened again
// first. With Echo, `incoming` gets what came after the frame's echo.
[[gnu::hot]] MBus::Sent MBus::sendFrame(const Bytes& frameBytes, Bytes& incoming) {
    if (silence_.count() > 0 && lastExchangeEnd_) {
        const TimePoint libera = *lastExchangeEnd_ + silence_;
        if (clock_.now() < libera) clock_.sleep(std::chrono::ceil<Millis>(libera - clock_.now()));
    }
    // Reading what came also notices a connection that the other end
    // closed meanwhile: a request never goes out on it.
    Bytes stale;
    readPort(stale);
    dropLateFrames(stale, [](ByteView) { return false; });
    reopenIfLost();
    registerLateFrames();
    if (!port_.write(frameBytes)) return Sent::NotWritten;
    counters_.bytesOnLine += frameBytes.size();
    if (!echo_ || framing_ != &FramingRtu) return Sent::Written;
    return readEcho(frameBytes, incoming) ? Sent::Written : Sent::EchoWrong;
}

// The frame's own bytes come back first, within the time-out; a byte that
// differs ends the wait at once.
bool MBus::readEcho(const Bytes& frameBytes, Bytes& incoming) {
    const TimePoint dueAt = clock_.now() + Millis(timeOutMs_);
    const auto sameBytes = [&] {
        const std::size_t n = std::min(incoming.size(), frameBytes.size());
        return std::equal(frameBytes.begin(), frameBytes.begin() + static_cast<std::ptrdiff_t>(n),
                          incoming.begin());
    };
    for (;;) {
        readPort(incoming);
        if (!sameBytes()) return false;
        if (incoming.size() >= frameBytes.size()) break;
        if (clock_.now() >= dueAt || interrupted_ || port_.deviceLost()) return false;
        port_.waitForInput(dueAt);
    }
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(frameBytes.size()));
    return true;
}

// Before a request to a node whose earlier answer may still come: a fence,
// or for a node that never answers one, the timed guard. A node silent
// through its fence in this cycle gets no other: its requests go out
// behind the fence still out, and nothing of it is taken that could be an
// earlier answer.
[[gnu::hot]] void MBus::prepareNode(std::uint8_t node, const Bytes& pdu) {
    awaitGuard(node, pdu);
    if (inOrder(node) && order().needsFence(node, pdu) && !silentNodes_[node]) sendFence(node);
}

// The fence's own exchange: not a read, so neither counted in the health
// nor retried; a device without diagnostics answers it with exception 1.
// It ends at its answer or its time-out, whichever comes first.
void MBus::sendFence(std::uint8_t node) {
    Bytes frameBytes;
    framing_->request(frameBytes, node, AnswerOrder::FencePdu(++fenceToken_), 0);
    Bytes incoming;
    // A fence given back wrong may not have reached the node: not counted.
    const bool written = sendFrame(frameBytes, incoming) == Sent::Written;
    logRequest(frameBytes);
    if (written) order().fenceSent(node, fenceToken_);
    const TimePoint dueAt = clock_.now() + Millis(timeOutMs_);
    bool heard = !incoming.empty(), answer = false;
    while (written && !answer) {
        const std::size_t before = incoming.size();
        readPort(incoming);
        heard = heard || incoming.size() > before;
        answer = dropLateFrames(incoming, [&](ByteView frame) {
            return frame[0] == node && order().answersFence(node, frame);
        });
        if (answer || clock_.now() >= dueAt || interrupted_) break;
        if (port_.deviceLost()) markLost();
        port_.waitForInput(dueAt);
    }
    lastExchangeEnd_ = clock_.now();
    if (answer) {
        const auto fine = static_cast<std::ptrdiff_t>(framing_->frameAtFront(incoming).length);
        const Bytes frame(incoming.begin(), incoming.begin() + fine);
        order().frameDropped(node, frame);
        logAnswer(frame, TransactionResult::Complete);
    } else {
        if (written && !heard && !interrupted_) silentNodes_[node] = true;
        logAnswer({}, written ? TransactionResult::TimeOut : TransactionResult::PortFailure);
    }
    registerLateFrames();
}

// Takes in bytes until the answer to `frameBytes`: whole frames that answer
// something else are late and dropped, and the wait goes on to its
// time-out. Bytes that start no frame are judged as they come, as always.
[[gnu::hot]] MBus::WaitEnd MBus::awaitAnswer(const Bytes& frameBytes, const Bytes& pdu,
                                             int expectedLength, Bytes& incoming) {
    const TimePoint dueAt = clock_.now() + Millis(timeOutMs_);
    const std::uint8_t node = frameBytes[framing_->header - 1];
    const auto isAnswer = [&](ByteView frame) {
        return framing_->answers(frameBytes, frame) && (!inOrder(node) || order().mayTake(node, pdu));
    };
    // Pending events run inside each wait: the loop never spins. Right
    // after the request nothing has come that the wait would not see: it
    // comes first, and a read ahead of it would find nothing.
    for (bool waitFirst = incoming.empty();; waitFirst = false) {
        if (!waitFirst) {
            readPort(incoming);
            if (dropLateFrames(incoming, isAnswer)) return WaitEnd::Answer;
            if (framing_->frameAtFront(incoming).kind == FrameAtFront::NotAFrame &&
                static_cast<int>(incoming.size()) >= expectedLength)
                return WaitEnd::NoFrame;
        }
        if (clock_.now() >= dueAt || interrupted_) return WaitEnd::Nothing;
        if (port_.deviceLost()) markLost();
        port_.waitForInput(dueAt);
    }
}

// How the exchange ended, from the bytes received: `t.received` keeps
// those taken as its answer, whole or in part.
[[gnu::hot]] void MBus::judge(Transaction& t, int expectedLength, WaitEnd fine) {
    Bytes& incoming = t.received;
    const std::size_t frameLength = fine == WaitEnd::Answer
                                      ? framing_->frameAtFront(incoming).length
                                      : static_cast<std::size_t>(expectedLength);
    if (fine != WaitEnd::Nothing || incoming.size() >= frameLength) {
        // More bytes behind a whole answer: two answers back to back, and
        // which one belongs to this request cannot be told.
        if (fine == WaitEnd::Answer && incoming.size() > frameLength) {
            t.outcome = TransactionResult::WrongAnswer;
        } else if (fine == WaitEnd::Answer && framing_->isException(t.sent, incoming)) {
            t.exceptionCode = incoming[framing_->code()];
            t.outcome = TransactionResult::Exception;
        } else {
            t.outcome = framing_->check(t.sent, incoming);
            if (t.ok() && incoming.size() > frameLength) t.outcome = TransactionResult::WrongAnswer;
        }
        return;
    }
    if (incoming.size() >= 2) {
        t.outcome = TransactionResult::Partial;
        return;
    }
    // Nothing, or one stray byte: nothing came.
    incoming.clear();
    t.outcome = t.node == 0 ? TransactionResult::Broadcast : TransactionResult::TimeOut;
}

// The data of a complete answer: registers, high byte first, or the bytes
// of the bits.
[[gnu::hot]] void MBus::takeData(Transaction& t, int expectedLength) const {
    if (!t.ok()) return;
    if (t.function == DeviceIdFunction) {
        // From the MEI type to the last object.
        t.bits.assign(t.received.begin() + static_cast<std::ptrdiff_t>(framing_->code()),
                      t.received.end() - static_cast<std::ptrdiff_t>(framing_->trailer));
        return;
    }
    const auto start = t.received.begin() + static_cast<std::ptrdiff_t>(framing_->payload());
    const auto fine = t.received.begin() + expectedLength - static_cast<int>(framing_->trailer);
    if (t.function <= 2) {
        t.bits.assign(start, fine);
        return;
    }
    for (auto b = start; b + 1 < fine; b += 2)
        t.registers.push_back(static_cast<std::uint16_t>(b[0] << 8 | b[1]));
}

// A request whose answer did not come whole may still be answered: the
// node owes it until a fence's answer comes.
[[gnu::hot]] void MBus::afterAnswer(const Transaction& t, const Bytes& pdu, bool written,
                                    WaitEnd fine) {
    const std::uint8_t node = t.node;
    if (!written || !inOrder(node)) return;
    if (fine == WaitEnd::Answer) {
        order().answerTaken(node);
        silentNodes_[node] = false;
    }
    if (!t.ok() && t.outcome != TransactionResult::Exception) order().answerMissing(node, pdu);
    if (t.outcome == TransactionResult::TimeOut && order().timedGuard(node)) armGuard(node, pdu);
}

void MBus::NewCycle() { silentNodes_.fill(false); }

void MBus::RecordSkipped(std::uint8_t node) {
    health_.skipped(node);
    monitorPair({}, "Skipped");
}

void MBus::armGuard(std::uint8_t node, const Bytes& pdu) {
    if (node == 0 || silentNodes_[node]) return;
    guard_ = {true, node, pdu, clock_.now() + Millis(timeOutMs_)};
}

[[gnu::hot]] void MBus::awaitGuard(std::uint8_t node, const Bytes& pdu) {
    if (!guard_.armed) return;
    // Another node, or the same request again: a late answer cannot be
    // taken for a different request of the node.
    if (guard_.node != node || guard_.pdu == pdu) {
        if (guard_.node != node) guard_.armed = false;
        return;
    }
    guard_.armed = false;
    Bytes lateOnes;
    readPort(lateOnes);
    while (clock_.now() < guard_.fine && !port_.deviceLost() && !interrupted_) {
        port_.waitForInput(guard_.fine);
        readPort(lateOnes);
    }
    readPort(lateOnes);
    if (lateOnes.empty()) {
        silentNodes_[node] = true;
        return;
    }
    monitorPair(lateOnes, " (Late answer)");
}

// With the timed guard, a node that timed out this cycle and stayed silent
// through its guard may still send that late answer now, just ahead of
// this one: a whole answer is taken only after the silence that ends a
// frame (3.5 characters of 11 bits, 1.75 ms above 19200 baud), so that an
// answer with another right behind it is seen as two.
void MBus::awaitTrailer(Bytes& incoming) {
    const TimePoint fine =
        clock_.now() + std::chrono::ceil<Millis>(InterFrameSilence(port_.settings().baud));
    while (clock_.now() < fine && !interrupted_ && !port_.deviceLost()) {
        port_.waitForInput(fine);
        readPort(incoming);
    }
}

// What the exchange gave, to the node's health (unless a stop cut its wait
// short, which says nothing about the node) and the monitor.
[[gnu::hot]] void MBus::observe(const Transaction& t) {
    if (!interrupted_) health_.record(t, clock_.now());
    logAnswer(t.received, t.outcome);
    if (!t.ok()) ++counters_.failed;
}

[[gnu::hot]] Transaction MBus::EseguiTransazione(std::uint8_t node, std::uint8_t function,
                                                 std::uint16_t addr, std::uint16_t quantity) {
    SetReadPdu(readPdu_, function, addr, quantity);
    return exchange(withSpareRoom(Request(node, function, addr, quantity)), readPdu_,
                    framing_->answerLength(function, quantity));
}

// The transaction in the room of the last one given back, emptied.
[[gnu::hot]] Transaction MBus::withSpareRoom(Transaction t) {
    const auto take = [](auto& into, auto& from) {
        into.swap(from);
        into.clear();
    };
    take(t.sent, spare_.sent);
    take(t.received, spare_.received);
    take(t.registers, spare_.registers);
    take(t.bits, spare_.bits);
    return t;
}

Transaction MBus::ReadDeviceId(std::uint8_t node, std::uint8_t firstObject) {
    // The shortest answer: no object, and the header around it.
    const int shortest = static_cast<int>(framing_->header + 7 + framing_->trailer);
    return exchange(Request(node, DeviceIdFunction, firstObject, 0), DeviceIdPdu(firstObject),
                    shortest);
}

[[gnu::hot]] Transaction MBus::exchange(Transaction t, const Bytes& pdu, int expectedLength) {
    const std::uint8_t node = t.node;
    if (interrupted_) return t;
    ++counters_.transactions;
    prepareNode(node, pdu);
    if (interrupted_) return t;  // a stop during the fence: nothing more goes out
    framing_->request(t.sent, node, pdu, ++transaction_);
    const Sent sending = sendFrame(t.sent, t.received);
    const bool written = sending != Sent::NotWritten;
    const TimePoint wasSent = clock_.now();
    logRequest(t.sent);
    if (written && inOrder(node)) order().requestSent(node);

    // A request that could not be written still waits out its time-out, so
    // that the cycle keeps the pace of a silent device. A device known to
    // be away ends as a time-out, as a silent one does; a write that an
    // open port refuses, or an echo that is not the request, is a port
    // error.
    const WaitEnd fine = sending == Sent::EchoWrong
                             ? WaitEnd::Nothing
                             : awaitAnswer(t.sent, pdu, expectedLength, t.received);
    if (fine == WaitEnd::Answer && inOrder(node) && silentNodes_[node] && order().timedGuard(node))
        awaitTrailer(t.received);
    lastExchangeEnd_ = clock_.now();
    t.duration = std::chrono::duration_cast<std::chrono::microseconds>(*lastExchangeEnd_ - wasSent);
    judge(t, expectedLength, fine);
    if ((!written && !portLost_ && !t.ok()) || sending == Sent::EchoWrong)
        t.outcome = TransactionResult::PortFailure;
    takeData(t, expectedLength);
    observe(t);
    registerLateFrames();
    afterAnswer(t, pdu, written, fine);
    return t;
}

// --- Value reads ------------------------------------------------------------

std::optional<std::string> MBus::LeggiHex(std::int16_t function, std::int32_t high,
                                          std::int32_t low, std::int16_t node) {
    if (AnswerLength(function) == 0) return std::nullopt;
    const auto addr = static_cast<std::uint16_t>(lowByte(high) << 8 | lowByte(low));
    const Transaction t = EseguiTransazione(static_cast<std::uint8_t>(node),
                                            static_cast<std::uint8_t>(function), addr, 1);
    if (!t.ok()) return std::nullopt;
    const std::uint16_t word = t.single();
    if (function <= 2) return hexByte(static_cast<std::uint8_t>(word), false);
    return hexByte(static_cast<std::uint8_t>(word >> 8), true) +
           hexByte(static_cast<std::uint8_t>(word), true);
}

[[gnu::hot]] MBus::ItemsRead MBus::ReadItems(std::int16_t function,
                                             std::span<const std::uint16_t> addrs,
                                             std::int16_t node) {
    ItemsRead readResult{std::nullopt, Request(static_cast<std::uint8_t>(node),
                                          static_cast<std::uint8_t>(function), 0, 1)};
    if (AnswerLength(function) == 0 || addrs.size() > ValueItems::Capacity) return readResult;
    ValueItems items(addrs.size());
    bool everything = false;
    for (int attempt = 0; attempt < retry_ && !everything; ++attempt) {
        everything = true;
        for (std::size_t i = 0; i < addrs.size(); ++i) {
            Transaction t = EseguiTransazione(static_cast<std::uint8_t>(node),
                                              static_cast<std::uint8_t>(function), addrs[i], 1);
            if (t.ok()) items[i] = t.single();
            if (everything || !t.ok()) readResult.last = std::move(t);
            everything = everything && readResult.last.ok();
        }
    }
    if (everything) readResult.items = items;
    return readResult;
}

std::optional<double> MBus::LeggiValore16(std::int16_t function, std::int16_t address,
                                          std::int16_t node, std::int16_t decimals,
                                          bool isUnsigned) {
    const ItemsRead readResult = ReadItems(function, {static_cast<std::uint16_t>(address)}, node);
    if (!readResult.items) return std::nullopt;
    const auto number =
        DecodeValue(*readResult.items, function >= 3, {ValueType::Int16, isUnsigned});
    return Scale(number->value, decimals);
}

Transaction MBus::ReadBlock(std::uint8_t function, std::uint16_t start, std::uint16_t quantity,
                              std::uint8_t node) {
    Transaction t = Request(node, function, start, quantity);
    if (framing_->answerLength(function, quantity) == 0 || quantity == 0) return t;
    for (int attempt = 0; attempt < retry_ && !t.ok(); ++attempt)
        t = EseguiTransazione(node, function, start, quantity);
    return t;
}

}  // namespace tarvel
