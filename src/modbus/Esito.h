#pragma once
// What became of one exchange on the line: the one vocabulary of failures
// that the master, the request execution and the monitor share.

#include <cstdint>

namespace tarvel {

enum class EsitoTransazione : std::uint8_t {
    Completa,        // the expected answer, checked
    TimeOut,         // nothing (or one stray byte) before the time-out
    Broadcast,       // the same for node 0, which never answers
    Parziale,        // some bytes, but neither a whole answer nor an exception
    Eccezione,       // a complete exception answer; its code comes with it
    ErroreCRC,       // a complete-length answer whose CRC is wrong
    RispostaErrata,  // right CRC, but node, function or byte count differ
    ErrorePorta,     // the request could not be written to the port
};

// The status text the monitor appends to the answer line.
const char* TestoEsito(EsitoTransazione esito);

}  // namespace tarvel
