#pragma once
// What became of one exchange on the line: the one vocabulary of failures
// that the master, the request execution and the monitor share.

#include <cstdint>

namespace tarvel {

enum class TransactionResult : std::uint8_t {
    Complete,        // the expected answer, checked
    TimeOut,         // nothing (or one stray byte) before the time-out
    Broadcast,       // the same for node 0, which never answers
    Partial,        // some bytes, but neither a whole answer nor an exception
    Exception,       // a complete exception answer; its code comes with it
    CrcError,       // a complete-length answer whose CRC is wrong
    WrongAnswer,  // right CRC, but node, function or byte count differ
    PortFailure,     // the request could not be written to the port
};

// The status text the monitor appends to the answer line.
const char* ResultText(TransactionResult verdict);

}  // namespace tarvel
