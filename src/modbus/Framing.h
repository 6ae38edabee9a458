#pragma once
// How requests and answers are framed on the line, one small set of
// functions per framing (after libmodbus's backends): RTU, node + PDU +
// CRC, on a serial line or a TCP connection that carries its bytes; and
// Modbus TCP, an MBAP header + PDU. The master works on PDUs through it.

#include <cstddef>
#include <cstdint>

#include "modbus/TransactionResult.h"
#include "modbus/Frame.h"
#include "platform/SerialPort.h"

namespace tarvel {

struct Framing {
    std::size_t header;  // bytes in front of the function code
    std::size_t trailer;          // bytes after the data: the CRC
    // The request frame into `frame`, in the room it has.
    void (*request)(Bytes& frame, std::uint8_t node, const Bytes& pdu, std::uint16_t transazione);
    // A complete-length answer to the request: Complete, or what is wrong.
    TransactionResult (*check)(const Bytes& request, const Bytes& answer);
    // True for a complete exception answer to the request.
    bool (*isException)(const Bytes& request, const Bytes& answer);
    // How the bytes received stand: a whole frame at their front, or not.
    FrameAtFront (*frameAtFront)(const Bytes& bytes);
    // True when a whole frame is the answer to the request, not a late one.
    bool (*answers)(const Bytes& request, ByteView frame);

    // Length of the answer to a read of `quantity` items; 0 when the
    // function code reads nothing.
    int answerLength(int function, int quantity) const;
    // Where the exception code, or the first data byte, stands in an answer.
    std::size_t code() const { return header + 1; }
    std::size_t payload() const { return header + 2; }
};

extern const Framing FramingRtu;
extern const Framing FramingTcp;

// The framing of what carries the line.
const Framing& FramingOf(LinkKind link);

}  // namespace tarvel
