#pragma once
// The line settings text of a serial port: "9600,N,8,1".

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

enum class Parita { Nessuna, Pari, Dispari, Mark, Space };
enum class BitStop { Uno, UnoEMezzo, Due };

struct ImpostazioniLinea {
    int baud = 9600;
    Parita parita = Parita::Nessuna;
    int bitDati = 8;
    BitStop bitStop = BitStop::Uno;
    bool operator==(const ImpostazioniLinea&) const = default;
};

// Baud rate (a positive whole number), parity N, E, O, M or S in either
// case, data bits 5 to 8, stop bits 1, 1.5 or 2, separated by commas.
std::optional<ImpostazioniLinea> LeggiImpostazioniLinea(std::string_view text);

// The port's own form, parity in lower case: "9600,n,8,1".
std::string TestoImpostazioniLinea(const ImpostazioniLinea& linea);

}  // namespace tarvel
