#include "modbus/Transaction.h"

namespace tarvel {

std::optional<std::uint16_t> Transaction::item(std::uint32_t indirizzo) const {
    if (!ok() || indirizzo < address || indirizzo >= address + std::uint32_t{quantity})
        return std::nullopt;
    const std::size_t posto = indirizzo - address;
    if (function <= 2) {
        if (posto / 8 >= bits.size()) return std::nullopt;
        return static_cast<std::uint16_t>((bits[posto / 8] >> (posto % 8)) & 1u);
    }
    if (posto >= registers.size()) return std::nullopt;
    return registers[posto];
}

}  // namespace tarvel
