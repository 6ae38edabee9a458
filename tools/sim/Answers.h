#pragma once
// Answers that a sound device would not give: exception answers with any
// code, and the damage done by the faults of the map (wrong node, wrong CRC,
// cut short, a stray byte in front), on RTU frames and on Modbus TCP answers
// with their MBAP header (transaction, protocol, length, unit).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "PlantMap.h"

namespace tarvel::sim {

using Bytes = std::vector<std::uint8_t>;

// CRC-16 of Modbus-RTU: reflected polynomial 0xA001, start 0xFFFF.
std::uint16_t ModbusCrc(std::span<const std::uint8_t> bytes);
// Appends the CRC, low byte first.
void AppendCrc(Bytes& frame);

// node, function + 0x80, code, CRC.
Bytes ExceptionAnswer(std::uint8_t node, std::uint8_t function, std::uint8_t code);

// The MBAP header of `request`, length 3, then function + 0x80 and code.
Bytes MbapExceptionAnswer(std::span<const std::uint8_t> request, std::uint8_t code);

// Applies the faults that change bytes, in this order: wrong node (with a
// valid CRC for the new node), wrong CRC, cut to the first bytes, stray byte
// in front. Silence, exceptions and delays are the caller's business.
Bytes DamageAnswer(Bytes answer, const FaultSet& faults);
// The same on a Modbus TCP answer: wrong unit, transaction identifier + 1,
// cut to the first bytes, stray byte in front. There is no CRC to spoil.
Bytes DamageMbapAnswer(Bytes answer, const FaultSet& faults);

std::string HexText(std::span<const std::uint8_t> bytes);

}  // namespace tarvel::sim
