#pragma once
// Modbus-RTU frames: the read request with its CRC, and the check of an
// answer before its data is used.

#include <cstdint>
#include <vector>

#include "modbus/Esito.h"
#include "platform/SerialPort.h"

namespace tarvel {

// CRC-16/MODBUS of the bytes (reflected polynomial 0xA001, start 0xFFFF).
std::uint16_t CalcolaCRC(const Bytes& bytes);

// node, function, data[0 .. length-5], CRC low, CRC high.
Bytes CostruisciTrama(int lunghezza, std::uint8_t nodo, std::uint8_t funzione, const Bytes& dati);

// The read request for one item at a 16-bit address.
Bytes TramaLettura(std::uint8_t nodo, std::uint8_t funzione, std::uint16_t indirizzo);

// Length of the answer to a read of one item: 6 for functions 1 and 2, 7 for
// 3 and 4, 0 for any other code.
int LunghezzaRisposta(int funzione);

// Checks a complete-length answer against its request: CRC, node, function
// code and byte count. Completa, ErroreCRC or RispostaErrata.
EsitoTransazione ControllaRisposta(const Bytes& richiesta, const Bytes& risposta);

// True for a complete exception answer to the request: node, function code
// + 0x80, exception code, valid CRC.
bool RispostaEccezione(const Bytes& richiesta, const Bytes& risposta);

}  // namespace tarvel
