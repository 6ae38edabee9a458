#include "modbus/AnswerOrder.h"

#include <algorithm>

namespace tarvel {
namespace {

// node, 08, 00 00, token, CRC: the echo of a fence.
bool IsFenceEcho(ByteView frame) {
    return frame.size() == 8 && frame[1] == 8 && frame[2] == 0 && frame[3] == 0;
}
// node, 88, code, CRC: a fence refused by a device without diagnostics.
bool IsFenceRefusal(ByteView frame) { return frame.size() == 5 && frame[1] == 0x88; }

}  // namespace

Bytes AnswerOrder::FencePdu(std::uint16_t token) {
    return {8, 0, 0, static_cast<std::uint8_t>(token >> 8),
            static_cast<std::uint8_t>(token & 0xFF)};
}

[[gnu::hot]] bool AnswerOrder::needsFence(std::uint8_t node, const Bytes& pdu) const {
    const Node& n = nodes_[node];
    return !n.timedGuard && n.doubt && n.doubtPdu != pdu;
}

// Everything the node owed before goes before the fence's answer: the late
// answers, and the answers to the fences before it.
void AnswerOrder::fenceSent(std::uint8_t node, std::uint16_t token) {
    Node& n = nodes_[node];
    n.owedBeforeFence = n.fence ? n.owedBeforeFence + 1 + n.unanswered : n.unanswered;
    n.fencesOut = (n.fence ? n.fencesOut : 0) + 1;
    n.fence = token;
    n.unanswered = 0;
    n.doubt = false;
    n.doubtPdu.reset();
}

// The echo carries the token; a refusal carries none, so it settles only
// when no earlier fence's refusal may still come.
bool AnswerOrder::settles(const Node& n, ByteView frame) const {
    if (!n.fence) return false;
    if (IsFenceEcho(frame)) return (frame[4] << 8 | frame[5]) == *n.fence;
    return IsFenceRefusal(frame) && n.fencesOut == 1;
}

bool AnswerOrder::answersFence(std::uint8_t node, ByteView frame) const {
    return settles(nodes_[node], frame);
}

[[gnu::hot]] void AnswerOrder::requestSent(std::uint8_t node) { ++nodes_[node].unanswered; }

[[gnu::hot]] bool AnswerOrder::mayTake(std::uint8_t node, const Bytes& pdu) const {
    const Node& n = nodes_[node];
    return n.timedGuard || (!n.fence && (!n.doubt || n.doubtPdu == pdu));
}

[[gnu::hot]] void AnswerOrder::answerTaken(std::uint8_t node) {
    Node& n = nodes_[node];
    n.unanswered = std::max(n.unanswered - 1, 0);
}

[[gnu::hot]] void AnswerOrder::answerMissing(std::uint8_t node, const Bytes& pdu) {
    Node& n = nodes_[node];
    if (!n.doubt) {
        n.doubt = true;
        n.doubtPdu = pdu;
    } else if (n.doubtPdu != pdu) {
        n.doubtPdu.reset();
    }
}

void AnswerOrder::frameDropped(std::uint8_t node, ByteView frame) {
    Node& n = nodes_[node];
    if (!n.fence) {
        n.unanswered = std::max(n.unanswered - 1, 0);
        return;
    }
    if (settles(n, frame)) {
        n.fence.reset();
        n.fencesOut = n.owedBeforeFence = 0;
        return;
    }
    if (IsFenceEcho(frame) || IsFenceRefusal(frame)) n.fencesOut = std::max(n.fencesOut - 1, 1);
    if (n.owedBeforeFence > 0) {
        --n.owedBeforeFence;
        return;
    }
    // More frames than the node owed before its fence: it answered a later
    // request and never the fence. The one case that rules cannot cover:
    // the node falls back to waiting one more time-out after a time-out.
    n = Node{};
    n.timedGuard = true;
}

}  // namespace tarvel
