#include "modbus/LineSettingsText.h"

#include <charconv>
#include <vector>

#include "settings/Number.h"

namespace tarvel {
namespace {

std::vector<std::string_view> splitCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        auto pos = text.find(',');
        parts.push_back(Trim(text.substr(0, pos)));
        if (pos == std::string_view::npos) return parts;
        text.remove_prefix(pos + 1);
    }
}

std::optional<int> wholeNumber(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(std::string_view text) {
    auto parts = splitCommas(text);
    if (parts.size() != 4) return std::nullopt;
    LineSettings linea;
    auto baud = wholeNumber(parts[0]);
    if (!baud || *baud <= 0) return std::nullopt;
    linea.baud = *baud;

    if (parts[1].size() != 1) return std::nullopt;
    switch (parts[1][0]) {
        case 'N':
        case 'n':
            linea.parity = Parity::None;
            break;
        case 'E':
        case 'e':
            linea.parity = Parity::Even;
            break;
        case 'O':
        case 'o':
            linea.parity = Parity::Odd;
            break;
        case 'M':
        case 'm':
            linea.parity = Parity::Mark;
            break;
        case 'S':
        case 's':
            linea.parity = Parity::Space;
            break;
        default:
            return std::nullopt;
    }

    auto data = wholeNumber(parts[2]);
    if (!data || *data < 5 || *data > 8) return std::nullopt;
    linea.dataBits = *data;

    if (parts[3] == "1")
        linea.stopBits = StopBits::One;
    else if (parts[3] == "1.5")
        linea.stopBits = StopBits::OneAndHalf;
    else if (parts[3] == "2")
        linea.stopBits = StopBits::Two;
    else
        return std::nullopt;
    const bool five = linea.dataBits == 5;
    if ((linea.stopBits == StopBits::OneAndHalf) != five && linea.stopBits != StopBits::One)
        return std::nullopt;
    return linea;
}

std::string LineSettingsText(const LineSettings& linea) {
    static const char letters[] = {'n', 'e', 'o', 'm', 's'};
    static const char* stops[] = {"1", "1.5", "2"};
    return std::to_string(linea.baud) + "," + letters[static_cast<int>(linea.parity)] + "," +
           std::to_string(linea.dataBits) + "," + stops[static_cast<int>(linea.stopBits)];
}

double BitsPerByte(const LineSettings& linea) {
    const double stop = linea.stopBits == StopBits::One          ? 1.0
                        : linea.stopBits == StopBits::OneAndHalf ? 1.5
                                                                 : 2.0;
    return 1.0 + linea.dataBits + (linea.parity == Parity::None ? 0.0 : 1.0) + stop;
}

}  // namespace tarvel
