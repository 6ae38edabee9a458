#include "acquisition/Reading.h"

#include <charconv>

#include "acquisition/TestoValore.h"

namespace tarvel {

std::optional<std::string> ValueText(const Reading& reading) {
    if (reading.quality != Quality::Good) return std::nullopt;
    if (reading.constant) return reading.constant;
    if (!reading.number) return std::nullopt;
    return TestoNumero(*reading.number, reading.decimals);
}

std::optional<double> ValueNumber(const Reading& reading) {
    if (reading.constant) return std::nullopt;
    const std::optional<std::string> text = ValueText(reading);
    if (!text) return std::nullopt;
    // The text has at most 15 significant digits (or a 64-bit integer's
    // every digit): the double nearest to it is the number written.
    double value = 0;
    const char* end = text->data() + text->size();
    auto [ptr, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || ptr != end) return std::nullopt;
    return value;
}

}  // namespace tarvel
