#include "modbus/Value.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <type_traits>

namespace tarvel {
namespace {

// The items one after the other, most significant first, bytes swapped in
// each register when asked.
std::uint64_t unisci(const std::vector<std::uint16_t>& elementi, bool registri, bool scambiaByte) {
    std::uint64_t valore = 0;
    for (const std::uint16_t e : elementi) {
        if (registri)
            valore = valore << 16 | (scambiaByte ? (e & 0xFFu) << 8 | e >> 8 : e);
        else
            valore = valore << (e < 16 ? 4 : 8) | e;
    }
    return valore;
}

// A float32 as the shortest decimal that reads back as the same float32.
double decimaleDi(float valore) {
    char testo[32];
    auto [fine, errore] = std::to_chars(testo, testo + sizeof testo, valore);
    double letto = 0;
    if (errore == std::errc()) std::from_chars(testo, fine, letto);
    return letto;
}

// The integer's value exactly, and as a double.
template <typename Int>
ParsedNumber intero(Int valore) {
    ParsedNumber numero{static_cast<double>(valore), true, false,
                       static_cast<std::uint64_t>(valore)};
    if constexpr (std::is_signed_v<Int>) {
        numero.negativo = valore < 0;
        // The magnitude in unsigned arithmetic: -2^63 has no positive twin.
        if (numero.negativo) numero.modulo = ~numero.modulo + 1;
    }
    return numero;
}

}  // namespace

int ParoleDi(ValueType tipo) {
    switch (tipo) {
        case ValueType::Int16:
            return 1;
        case ValueType::Int32:
        case ValueType::Float32:
            return 2;
        case ValueType::Int64:
        case ValueType::Float64:
            return 4;
    }
    return 1;
}

double Scala(double valore, std::int16_t decimali) {
    const double divisore = std::pow(10.0, decimali);
    if (!std::isfinite(divisore) || divisore == 0) return std::nan("");
    return valore / divisore;
}

std::optional<ParsedNumber> DecodificaValore(const std::vector<std::uint16_t>& elementi,
                                            bool registri, const ValueFormat& f) {
    const std::uint64_t grezzo = unisci(elementi, registri, f.scambiaByte);
    const bool u = f.senzaSegno;
    ParsedNumber numero;
    switch (f.tipo) {
        case ValueType::Int16: {
            if (f.nessunValore && grezzo == (u ? 0xFFFFu : 0x8000u)) return std::nullopt;
            if (!u && registri) return intero(static_cast<std::int16_t>(grezzo));
            return intero(grezzo);
        }
        case ValueType::Int32: {
            const auto bits = static_cast<std::uint32_t>(grezzo);
            if (f.nessunValore && bits == (u ? 0xFFFFFFFFu : 0x80000000u)) return std::nullopt;
            return u ? intero(bits) : intero(static_cast<std::int32_t>(bits));
        }
        case ValueType::Int64:
            if (f.nessunValore && grezzo == (u ? ~std::uint64_t{0} : std::uint64_t{1} << 63))
                return std::nullopt;
            return u ? intero(grezzo) : intero(static_cast<std::int64_t>(grezzo));
        case ValueType::Float32: {
            const auto valore = std::bit_cast<float>(static_cast<std::uint32_t>(grezzo));
            if (!std::isfinite(valore)) return std::nullopt;
            numero.valore = decimaleDi(valore);
            break;
        }
        case ValueType::Float64:
            numero.valore = std::bit_cast<double>(grezzo);
            if (!std::isfinite(numero.valore)) return std::nullopt;
            break;
    }
    numero.valore += 0.0;  // -0 is written 0
    return numero;
}

}  // namespace tarvel
