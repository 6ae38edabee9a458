// The leading number of a text and its rounding to 16 and 32 bits.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "settings/Number.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

// A rounded result: absent exactly when the value, rounded half to even,
// falls outside [low, high]; present, it is the nearest integer, and an even
// one for a value halfway between two.
template <typename Int>
void checkRounding(double value, std::optional<Int> rounded, double low, double high) {
    const bool fits = std::isfinite(value) && value >= low - 0.5 && value < high + 0.5;
    if (!fits) {
        require(!rounded);
        return;
    }
    require(rounded.has_value());
    const double distance = std::fabs(static_cast<double>(*rounded) - value);
    require(distance <= 0.5);
    if (distance == 0.5) require(*rounded % 2 == 0);
}

void checkBoth(double value) {
    checkRounding(value, tarvel::RoundToInt16(value), -32768.0, 32767.0);
    checkRounding(value, tarvel::RoundToInt32(value), -2147483648.0, 2147483647.0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: {
            const double value = tarvel::LeadingNumber(in.ConsumeRemainingBytesAsString());
            require(std::isfinite(value));
            checkBoth(value);
            break;
        }
        case 1: {
            const auto number = in.ConsumeIntegralInRange<std::uint64_t>(0, 1ull << 31);
            const std::string blanks(in.ConsumeIntegralInRange(0, 3), ' ');
            require(tarvel::LeadingNumber(blanks + std::to_string(number)) ==
                    static_cast<double>(number));
            break;
        }
        default: {
            // Any bit pattern: infinities and NaN too.
            std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
            double value = 0;
            std::memcpy(&value, &bits, sizeof value);
            checkBoth(value);
            break;
        }
    }
    return 0;
}
