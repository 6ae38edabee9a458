#include "Answers.h"

#include <cstdio>
#include <string>
#include <utility>

namespace tarvel::sim {

std::uint16_t ModbusCrc(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

void AppendCrc(Bytes& frame) {
    const std::uint16_t crc = ModbusCrc(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

Bytes ExceptionAnswer(std::uint8_t node, std::uint8_t function, std::uint8_t code) {
    Bytes answer{node, static_cast<std::uint8_t>(function | 0x80), code};
    AppendCrc(answer);
    return answer;
}

Bytes MbapExceptionAnswer(std::span<const std::uint8_t> request, std::uint8_t code) {
    const auto function = static_cast<std::uint8_t>(request[7] | 0x80);
    return {request[0], request[1], 0, 0, 0, 3, request[6], function, code};
}

namespace {

Bytes CutAndStray(Bytes answer, const FaultSet& faults) {
    if (faults.partial && answer.size() > static_cast<std::size_t>(*faults.partial)) {
        answer.resize(static_cast<std::size_t>(*faults.partial));
    }
    if (faults.stray) answer.insert(answer.begin(), static_cast<std::uint8_t>(*faults.stray));
    return answer;
}

}  // namespace

Bytes DamageAnswer(Bytes answer, const FaultSet& faults) {
    if (faults.wrongNode && answer.size() >= 3) {
        answer.resize(answer.size() - 2);
        answer[0] = static_cast<std::uint8_t>(*faults.wrongNode);
        AppendCrc(answer);
    }
    if (faults.badCrc && answer.size() >= 2) {
        answer[answer.size() - 2] ^= 0xFF;
        answer[answer.size() - 1] ^= 0xFF;
    }
    return CutAndStray(std::move(answer), faults);
}

Bytes DamageMbapAnswer(Bytes answer, const FaultSet& faults) {
    if (answer.size() >= 7) {
        if (faults.wrongNode) answer[6] = static_cast<std::uint8_t>(*faults.wrongNode);
        if (faults.wrongTid) {
            const auto tid = static_cast<std::uint16_t>(((answer[0] << 8) | answer[1]) + 1);
            answer[0] = static_cast<std::uint8_t>(tid >> 8);
            answer[1] = static_cast<std::uint8_t>(tid & 0xFF);
        }
    }
    return CutAndStray(std::move(answer), faults);
}

std::string HexText(std::span<const std::uint8_t> bytes) {
    std::string text;
    char digits[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        if (!text.empty()) text += ' ';
        text += digits;
    }
    return text;
}

}  // namespace tarvel::sim
