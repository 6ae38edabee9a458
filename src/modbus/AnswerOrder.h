#pragma once
// What each node of an RTU line may still owe, and when a whole answer
// frame may be taken for the request that is out. A Modbus slave answers
// its requests in turn, however late; an RTU answer carries no request
// number, so a late answer of the same node, function and length cannot be
// told from the right one by its bytes. After a request to a node ends
// without its answer, the next different request to it goes after a fence
// (function 8, sub-function 0, Return Query Data, with a token of its own):
// every frame of the node before the fence's answer (its echo, or the
// exception 0x88 of a device without diagnostics) is late. A device that
// answers reads but never a fence shows itself by sending more frames than
// it owed before the fence; for it the master falls back to the timed guard.

#include <array>
#include <cstdint>
#include <optional>

#include "platform/SerialPort.h"

namespace tarvel {

class AnswerOrder {
  public:
    // Function 8, sub-function 0 (Return Query Data), the token as its data.
    static Bytes FencePdu(std::uint16_t token);

    // A fence must go before `pdu` to `node`: an earlier answer may still
    // come that would look like the answer to it. Not for the same request
    // again, whose late answer carries the same items.
    bool needsFence(std::uint8_t node, const Bytes& pdu) const;
    void fenceSent(std::uint8_t node, std::uint16_t token);
    // True when the whole frame from `node` is the answer to its fence out.
    bool answersFence(std::uint8_t node, ByteView frame) const;

    void requestSent(std::uint8_t node);
    // A whole answer from `node` to `pdu` may be taken as the answer.
    bool mayTake(std::uint8_t node, const Bytes& pdu) const;
    void answerTaken(std::uint8_t node);
    // The request ended without its answer: that answer may still come.
    void answerMissing(std::uint8_t node, const Bytes& pdu);
    // A whole frame from `node` that is not taken: a late answer, or the
    // answer to a fence, which settles the node when it is the last fence's.
    void frameDropped(std::uint8_t node, ByteView frame);

    // The node answers reads but not its fences: the timed guard instead.
    bool timedGuard(std::uint8_t node) const { return nodes_[node].timedGuard; }

  private:
    struct Node {
        bool doubt = false;             // since the last fence, a request ended without its answer
        std::optional<Bytes> doubtPdu;  // that request's; none: several different ones
        std::optional<std::uint16_t> fence;  // the last fence, while its answer has not come
        int fencesOut = 0;                   // fences whose answers have not come
        int owedBeforeFence = 0;             // frames that may still come before the fence's answer
        int unanswered = 0;                  // requests since then without an answer
        bool timedGuard = false;
    };
    bool settles(const Node& n, ByteView frame) const;
    std::array<Node, 256> nodes_{};
};

}  // namespace tarvel
