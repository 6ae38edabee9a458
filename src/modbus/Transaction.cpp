#include "modbus/Transaction.h"

namespace tarvel {

std::optional<std::uint16_t> Transaction::item(std::uint32_t addr) const {
    if (!ok() || addr < address || addr >= address + std::uint32_t{quantity})
        return std::nullopt;
    const std::size_t box = addr - address;
    if (function <= 2) {
        if (box / 8 >= bits.size()) return std::nullopt;
        return static_cast<std::uint16_t>((bits[box / 8] >> (box % 8)) & 1u);
    }
    if (box >= registers.size()) return std::nullopt;
    return registers[box];
}

}  // namespace tarvel
