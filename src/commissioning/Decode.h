#pragma once
// Every reading of four registers that a request line can ask for, each
// with the register field that reads it that way, so that the plausible
// one can be picked (230.1 V, not 1.3E-38).

#include <cstdint>
#include <string>
#include <vector>

namespace tarvel {

struct DecodedReading {
    std::string registerField;  // "40083&S", "12F", "15-"...
    std::string kind;           // "int16", "uint32 cdab"...
    std::string value;          // the number, or "-" when it has none (NaN)
};

// The readings of registers[0..3], read from `address` upward (at most
// 65532).
std::vector<DecodedReading> DecodeRegisters(std::uint16_t address,
                                            const std::vector<std::uint16_t>& registers);

}  // namespace tarvel
