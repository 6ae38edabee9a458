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

enum class LineKind { Read, Constant, Serial, Wait, Next, Empty, Invalid };

// Cuts a request line into its record. A read line that lacks one of its
// separators (three commas, then a semicolon) is cut as far as it goes, the
// rest of the fields stay empty.
Chiamata TagliaRiga(std::string_view riga);

// What executing the record does. Blank lines and read lines that miss a
// separator are not executed as reads.
LineKind TipoDiRiga(std::string_view riga);
const char* NomeTipoRiga(LineKind tipo);

// The numbers of a read line, taken when the list is loaded.
struct ReadParameters {
    std::int16_t nodo = 0;
    std::int16_t funzione = 0;
    std::uint16_t registro = 0;  // 0 to 65535 (-32768 to -1 wrap to the top)
    std::int16_t decimali = 0;
    // "@" and a register as decimals: the decimals are minus the signed
    // contents of that register, read in the same cycle.
    std::optional<std::uint16_t> registroScala;
    // "+" or "-": 32 bits; "F", "D", "Q": float32, float64, 64 bits; "&"
    // unsigned, "S" bytes swapped, "N" the "no value" pattern.
    ValueFormat formato;
    // The items upward from the register ("+", and F, D or Q without "-"),
    // or downward; the most significant first either way.
    bool bassoSuccessivo = false;
};

// One request line, cut once when the list is loaded.
struct RequestLine {
    std::string testo;  // the line as the list shows it
    LineKind tipo = LineKind::Empty;
    Chiamata campi;  // the five fields as cut
    // Reads and constants: the fields with the register markers taken out,
    // as the detail fields show them while the line runs.
    Chiamata campiEseguiti;
    // Reads whose node, function and decimals fit 16 bits and whose register
    // is an address (-32768 to 65535); nothing means no read is made.
    std::optional<ReadParameters> lettura;
    // Serial lines: the profile number; nothing when out of range.
    std::optional<std::int16_t> profilo;
    // Wait lines: how long; a negative wait counts as none.
    std::chrono::milliseconds attesa{0};
    // What the load of the list found wrong with the line (ProblemiRiga).
    std::vector<std::string> problemi;
};

RequestLine CaricaRiga(std::string_view testo);

// The register address a field's leading number names: 0 to 65535, and
// -32768 to -1 as the same 16 bits; nothing beyond.
std::optional<std::uint16_t> IndirizzoRegistro(std::string_view text);

}  // namespace tarvel
