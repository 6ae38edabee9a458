#include "commissioning/DeviceIdentity.h"

namespace tarvel {
namespace {

std::string printable(Bytes::const_iterator from, Bytes::const_iterator to) {
    std::string text;
    for (auto b = from; b != to; ++b) text += *b >= 0x20 && *b < 0x7F ? static_cast<char>(*b) : ' ';
    const auto start = text.find_first_not_of(' ');
    if (start == std::string::npos) return {};
    return text.substr(start, text.find_last_not_of(' ') - start + 1);
}

}  // namespace

std::optional<DeviceIdAnswer> ParseDeviceId(const Bytes& mei) {
    // MEI type, read code, conformity, more follows, next object, objects.
    constexpr std::size_t header = 6;
    if (mei.size() < header || mei[0] != 0x0E) return std::nullopt;
    DeviceIdAnswer answer;
    answer.moreFollows = mei[3] == 0xFF;
    answer.nextObject = mei[4];
    std::size_t at = header;
    for (int object = 0; object < mei[5]; ++object) {
        if (at + 2 > mei.size() || at + 2 + mei[at + 1] > mei.size()) return std::nullopt;
        const auto start = mei.begin() + static_cast<std::ptrdiff_t>(at + 2);
        answer.objects[mei[at]] = printable(start, start + mei[at + 1]);
        at += 2u + mei[at + 1];
    }
    if (at != mei.size()) return std::nullopt;
    return answer;
}

}  // namespace tarvel
