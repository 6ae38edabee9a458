#pragma once
// What one executed read or constant line gave: its value and how good it
// is. The answer list, the XML, the broker and the history are written
// from it; none of them reads another one's text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "acquisition/Chiamata.h"
#include "modbus/TransactionResult.h"
#include "modbus/Value.h"

namespace tarvel {

enum class Quality : std::uint8_t {
    Good,       // a value: a number read or a constant's text
    Failed,     // the device did not give it (outcome: what the exchange met)
    NoValue,    // answered with the "no value" pattern (or a scale register's 0x8000)
    NotFinite,  // a NaN or an infinity, or decimals that leave no finite number
    Skipped,    // its node was skipped after failed reads in a row
    NotRead,    // the line names no read that can be made
};

struct Reading {
    std::size_t line = 0;  // the request line's index, from 0
    int device = 1;        // the groups of the output, from 1 (set by the cycle)
    std::string profile;   // the section of the serial profile in force
    std::string name;      // the line's description
    std::string unit;      // the line's unit; empty for none
    Quality quality = Quality::NotRead;
    // Failed: what the last exchange met; nothing when no request was sent.
    std::optional<TransactionResult> outcome;
    // Good reads: the number as read and the decimals it is divided by.
    std::optional<ParsedNumber> number;
    std::int16_t decimals = 0;
    // Good constants: their text.
    std::optional<std::string> constant;

    bool failed() const {
        return quality == Quality::Failed || quality == Quality::Skipped ||
               quality == Quality::NotRead;
    }
    bool withoutValue() const {
        return quality == Quality::NoValue || quality == Quality::NotFinite;
    }
};

// What one executed line gave.
struct Risposta {
    LineKind kind = LineKind::Empty;
    // Other lines than reads and constants: their answer line ("Serial_1",
    // "#Sleep 500", "%Next device").
    std::string text;
    // Reads and constants.
    std::optional<Reading> reading;
};

// The value text of a good reading (the number with its decimals, or the
// constant's text); nothing for any other quality.
std::optional<std::string> ValueText(const Reading& reading);

// The number of a good read as a JSON number: the digits of its value text,
// with a "0" before the point (0.5, -0.25).
std::optional<std::string> JsonNumber(const Reading& reading);

// The number of a good read as a double: the one nearest to the number its
// value text writes (an integer with its decimals exactly, any other number
// rounded to 15 significant digits).
std::optional<double> ValueNumber(const Reading& reading);

}  // namespace tarvel
