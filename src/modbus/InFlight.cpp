// Several read requests out at once on Modbus TCP, each answer matched to
// its request by the transaction identifier.

#include <algorithm>
#include <deque>
#include <utility>

#include "modbus/Frame.h"
#include "modbus/MBus.h"

namespace tarvel {
namespace {

// A request that went out and awaits its answer.
struct Outstanding {
    std::size_t index = 0;  // of the request
    Transaction t;
    int expectedLength = 0;
    bool written = false;
    TimePoint sentAt{};
    TimePoint dueAt{};
};

}  // namespace

struct MBus::Batch {
    explicit Batch(const std::vector<ReadRequest>& r)
        : requests(r), results(r.size()), attempts(r.size()), tries(r.size()), done(r.size()) {}

    const std::vector<ReadRequest>& requests;
    std::vector<Transaction> results;
    std::vector<std::vector<Transaction>> attempts;  // for the monitor, in order
    std::vector<int> tries;
    std::vector<bool> done;
    std::deque<std::size_t> queue;  // to send: a retry goes first
    std::vector<Outstanding> outstanding;
    Bytes incoming;
    std::size_t logged = 0;  // requests whose exchanges the monitor has
};

namespace {

Transaction Unsent(const MBus::ReadRequest& r) {
    Transaction t;
    t.node = r.node;
    t.function = r.function;
    t.address = r.address;
    t.quantity = r.quantity;
    return t;
}

}  // namespace

std::vector<Transaction> MBus::ReadInFlight(const std::vector<ReadRequest>& requests) {
    std::vector<Transaction> results;
    if (window() <= 1) {
        for (const ReadRequest& r : requests)
            results.push_back(ReadBlock(r.function, r.address, r.quantity, r.node));
        return results;
    }
    Batch b(requests);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const ReadRequest& r = requests[i];
        b.results[i] = Unsent(r);
        if (r.quantity > 0 && framing_->answerLength(r.function, r.quantity) > 0)
            b.queue.push_back(i);
        else
            b.done[i] = true;
    }
    for (;;) {
        sendInFlight(b);
        if (b.outstanding.empty()) break;
        if (collectInFlight(b)) continue;
        const auto first = std::min_element(
            b.outstanding.begin(), b.outstanding.end(),
            [](const Outstanding& x, const Outstanding& y) { return x.dueAt < y.dueAt; });
        port_.waitForInput(first->dueAt);
    }
    logInFlight(b);
    registerLateFrames();
    lastExchangeEnd_ = clock_.now();
    return std::move(b.results);
}

// Sends from the queue while the window has room. With none out, a request
// goes as a single one does (what came meanwhile is late, a lost connection
// is made again first); a connection lost with requests out takes no more
// until they have ended. After a stop nothing more goes out.
void MBus::sendInFlight(Batch& b) {
    while (static_cast<int>(b.outstanding.size()) < window_ && !b.queue.empty()) {
        const std::size_t i = b.queue.front();
        if (interrupted_) {
            b.queue.pop_front();
            b.results[i] = Unsent(b.requests[i]);
            b.done[i] = true;
            continue;
        }
        if (!b.outstanding.empty() && (portLost_ || port_.deviceLost())) break;
        b.queue.pop_front();
        const ReadRequest& r = b.requests[i];
        Outstanding o{i, Unsent(r), framing_->answerLength(r.function, r.quantity), false, {}, {}};
        ++counters_.transactions;
        ++b.tries[i];
        framing_->request(o.t.sent, r.node, ReadPdu(r.function, r.address, r.quantity),
                          ++transaction_);
        if (b.outstanding.empty()) {
            b.incoming.clear();
            Bytes none;
            o.written = sendFrame(o.t.sent, none) == Sent::Written;
        } else {
            Bytes fresh = port_.readAll();
            b.incoming.insert(b.incoming.end(), fresh.begin(), fresh.end());
            o.written = port_.write(o.t.sent);
        }
        o.sentAt = clock_.now();
        o.dueAt = o.sentAt + Millis(timeOutMs_);
        b.outstanding.push_back(std::move(o));
    }
    logInFlight(b);
}

// Takes in what came and ends the requests it answers, and those whose
// time is up; true when one ended.
bool MBus::collectInFlight(Batch& b) {
    Bytes fresh = port_.readAll();
    b.incoming.insert(b.incoming.end(), fresh.begin(), fresh.end());
    bool ended = false;
    matchInFlight(b, ended);
    const TimePoint now = clock_.now();
    for (std::size_t k = 0; k < b.outstanding.size();) {
        Outstanding& o = b.outstanding[k];
        if (now < o.dueAt && !interrupted_) {
            ++k;
            continue;
        }
        // The start of its own answer is what came of it.
        if (framing_->answers(o.t.sent, b.incoming)) o.t.received = std::exchange(b.incoming, {});
        endInFlight(b, k, WaitEnd::Nothing);
        ended = true;
    }
    if (port_.deviceLost()) markLost();
    return ended;
}

// Whole frames end the request whose transaction identifier they carry;
// one that names no request out is a late answer. Bytes that start no
// frame are judged with the request they name (the oldest when they name
// none) once they are as long as its answer.
void MBus::matchInFlight(Batch& b, bool& ended) {
    const auto naming = [&](const Bytes& frame) {
        return std::find_if(b.outstanding.begin(), b.outstanding.end(),
                            [&](const Outstanding& o) { return framing_->answers(o.t.sent, frame); });
    };
    for (;;) {
        const FrameAtFront front = framing_->frameAtFront(b.incoming);
        if (front.kind == FrameAtFront::Incomplete) return;
        auto it = naming(b.incoming);
        if (front.kind == FrameAtFront::NotAFrame) {
            if (it == b.outstanding.end()) it = b.outstanding.begin();
            if (it == b.outstanding.end() ||
                static_cast<int>(b.incoming.size()) < it->expectedLength)
                return;
            it->t.received = std::exchange(b.incoming, {});
            endInFlight(b, static_cast<std::size_t>(it - b.outstanding.begin()), WaitEnd::NoFrame);
            ended = true;
            return;
        }
        const auto end = b.incoming.begin() + static_cast<std::ptrdiff_t>(front.length);
        Bytes frame(b.incoming.begin(), end);
        b.incoming.erase(b.incoming.begin(), end);
        if (it == b.outstanding.end()) {
            noteLateFrame(frame);
            continue;
        }
        it->t.received = std::move(frame);
        endInFlight(b, static_cast<std::size_t>(it - b.outstanding.begin()), WaitEnd::Answer);
        ended = true;
    }
}

// Judges the exchange as a single one is judged; a failed one goes again
// (first) while it has attempts left.
void MBus::endInFlight(Batch& b, std::size_t k, WaitEnd fine) {
    Outstanding o = std::move(b.outstanding[k]);
    b.outstanding.erase(b.outstanding.begin() + static_cast<std::ptrdiff_t>(k));
    Transaction& t = o.t;
    t.duration = std::chrono::duration_cast<std::chrono::microseconds>(clock_.now() - o.sentAt);
    judge(t, o.expectedLength, fine);
    if (!o.written && !portLost_ && !t.ok()) t.outcome = TransactionResult::PortFailure;
    takeData(t, o.expectedLength);
    if (!interrupted_) health_.record(t, clock_.now());
    if (!t.ok()) ++counters_.failed;
    b.attempts[o.index].push_back(t);
    if (!t.ok() && b.tries[o.index] < retry_ && !interrupted_) {
        b.queue.push_front(o.index);
        return;
    }
    b.results[o.index] = std::move(t);
    b.done[o.index] = true;
}

// The exchanges of the requests that have ended, up to the first still
// out, in the order of the requests.
void MBus::logInFlight(Batch& b) {
    for (; b.logged < b.done.size() && b.done[b.logged]; ++b.logged) {
        for (const Transaction& t : b.attempts[b.logged]) {
            logRequest(t.sent);
            logAnswer(t.received, t.outcome);
        }
    }
}

}  // namespace tarvel
