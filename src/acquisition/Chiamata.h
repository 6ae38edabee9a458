#pragma once
// A request line of the list and the record it is cut into.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modbus/Value.h"

namespace tarvel {

// The five fields of the request being executed, as the detail fields show
// them. All text: the numbers are taken when the request is executed.
struct Chiamata {
    std::string Nodo;
    std::string Codice;
    std::string Registro;
    std::string Decimali;
    std::string Descrizione;
    bool operator==(const Chiamata&) const = default;
};

enum class LineKind { Read, Constant, Serial, Wait, Next, Empty, Invalid, Every };

// The longest period an EVERY line may give, in milliseconds: a day.
inline constexpr std::int64_t MaxGroupPeriodMs = 86'400'000;

// Cuts a request line into its record. A read line that lacks one of its
// separators (three commas, then a semicolon) is cut as far as it goes, the
// rest of the fields stay empty. A second semicolon ends the description:
// what follows it is the value's unit, not part of the record.
Chiamata CutLine(std::string_view line);

// What executing the record does. Blank lines and read lines that miss a
// separator are not executed as reads.
LineKind KindOfLine(std::string_view line);
const char* LineKindName(LineKind kind);

// The numbers of a read line, taken when the list is loaded.
struct ReadParameters {
    std::int16_t node = 0;
    std::int16_t function = 0;
    std::uint16_t address = 0;  // 0 to 65535 (-32768 to -1 wrap to the top)
    std::int16_t decimals = 0;
    // "@" and a register as decimals: the decimals are minus the signed
    // contents of that register, read in the same cycle.
    std::optional<std::uint16_t> scaleRegister;
    // "+" or "-": 32 bits; "F", "D", "Q": float32, float64, 64 bits; "&"
    // unsigned, "S" bytes swapped, "N" the "no value" pattern.
    ValueFormat format;
    // The items upward from the register ("+", and F, D or Q without "-"),
    // or downward; the most significant first either way.
    bool lowWordNext = false;
};

// One request line, cut once when the list is loaded.
struct RequestLine {
    std::string text;  // the line as the list shows it
    LineKind kind = LineKind::Empty;
    Chiamata fields;  // the five fields as cut
    // Reads and constants: the unit after a second ";" ("1,4,12,1;Vac;V"),
    // trimmed; empty for none, and for one refused (LineProblems).
    std::string unit;
    // Reads and constants: the fields with the register markers taken out,
    // as the detail fields show them while the line runs.
    Chiamata shownFields;
    // Reads whose node, function and decimals fit 16 bits and whose register
    // is an address (-32768 to 65535); nothing means no read is made.
    std::optional<ReadParameters> reading;
    // Serial lines: the profile number; nothing when out of range.
    std::optional<std::int16_t> profile;
    // Wait lines: how long; a negative wait counts as none.
    std::chrono::milliseconds wait{0};
    // EVERY lines: the period of the read lines after it, up to the next
    // EVERY line (0: every cycle); nothing when the value is no whole number
    // from 0 to MaxGroupPeriodMs (the lines are then read every cycle).
    std::optional<std::chrono::milliseconds> period;
    // What the load of the list found wrong with the line (LineProblems).
    std::vector<std::string> problems;
};

RequestLine LoadLine(std::string_view text);

// The register address a field's leading number names: 0 to 65535, and
// -32768 to -1 as the same 16 bits; nothing beyond.
std::optional<std::uint16_t> RegisterAddress(std::string_view text);

}  // namespace tarvel
