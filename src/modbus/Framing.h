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
    std::size_t intestazione;  // bytes in front of the function code
    std::size_t coda;          // bytes after the data: the CRC
    Bytes (*richiesta)(std::uint8_t nodo, const Bytes& pdu, std::uint16_t transazione);
    // A complete-length answer to the request: Complete, or what is wrong.
    TransactionResult (*controlla)(const Bytes& richiesta, const Bytes& risposta);
    // True for a complete exception answer to the request.
    bool (*eccezione)(const Bytes& richiesta, const Bytes& risposta);
    // How the bytes received stand: a whole frame at their front, or not.
    FrameAtFront (*frameAtFront)(const Bytes& bytes);
    // True when a whole frame is the answer to the request, not a late one.
    bool (*answers)(const Bytes& richiesta, const Bytes& frame);

    // Length of the answer to a read of `quantita` items; 0 when the
    // function code reads nothing.
    int lunghezzaRisposta(int funzione, int quantita) const;
    // Where the exception code, or the first data byte, stands in an answer.
    std::size_t codice() const { return intestazione + 1; }
    std::size_t dati() const { return intestazione + 2; }
};

extern const Framing FramingRtu;
extern const Framing FramingTcp;

// The framing of what carries the line.
const Framing& FramingDi(LinkKind link);

}  // namespace tarvel
