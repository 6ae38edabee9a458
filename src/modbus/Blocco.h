#pragma once
// The data of one read request for many items, and the value of one item
// taken from it exactly as a read of that item alone gives it.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/SerialPort.h"

namespace tarvel {

// The most coils or inputs, and registers, one read request may ask for.
inline constexpr int MassimoBloccoBit = 2000;
inline constexpr int MassimoBloccoRegistri = 125;

struct Blocco {
    std::uint8_t nodo = 0;
    std::uint8_t funzione = 0;
    std::uint16_t inizio = 0;
    std::uint16_t quantita = 0;
    Bytes dati;  // the answer's data bytes, after the byte count
};

// The text a read of the one item at `indirizzo` gives: "0" or "1" for a
// coil or input, four hexadecimal digits for a register; nothing when the
// block does not hold it.
std::optional<std::string> TestoElemento(const Blocco& blocco, std::uint32_t indirizzo);

// A 16-bit value from its text, signed unless `senzaSegno` (bits never are),
// divided by ten to the `decimali`.
double Valore16(const std::string& testo, std::int16_t decimali, bool senzaSegno);
// A 32-bit value from the texts of its high and low items written one after
// the other.
double Valore32(const std::string& alto, const std::string& basso, std::int16_t decimali,
                bool senzaSegno);

}  // namespace tarvel
