#include "modbus/Frame.h"

#include <array>

namespace tarvel {

namespace {
// The CRC-16 of each byte value (polynomial 0xA001, reflected): a byte at a
// time instead of a bit at a time.
constexpr std::array<std::uint16_t, 256> CrcTable = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        auto crc = static_cast<std::uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
        table[value] = crc;
    }
    return table;
}();

[[gnu::hot]] std::uint16_t crcOf(const std::uint8_t* bytes, std::size_t size) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ CrcTable[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}
// The first `length` bytes end in the CRC of those before it.
[[gnu::hot]] bool crcMatches(const Bytes& frame, std::size_t length) {
    if (length < 3 || frame.size() < length) return false;
    const std::uint16_t crc = crcOf(frame.data(), length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}
[[gnu::hot]] bool crcMatches(const Bytes& frame) { return crcMatches(frame, frame.size()); }
}  // namespace

[[gnu::hot]] std::uint16_t CalcolaCRC(const Bytes& bytes) {
    return crcOf(bytes.data(), bytes.size());
}

Bytes CostruisciTrama(int frameLength, std::uint8_t node, std::uint8_t function, const Bytes& payload) {
    Bytes frame{node, function};
    for (int i = 0; i < frameLength - 4 && i < static_cast<int>(payload.size()); ++i)
        frame.push_back(payload[i]);
    std::uint16_t crc = CalcolaCRC(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

namespace {
[[gnu::hot]] std::uint8_t high(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
[[gnu::hot]] std::uint8_t low(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
[[gnu::hot]] std::uint16_t word(ByteView b, std::size_t i) {
    return static_cast<std::uint16_t>(b[i] << 8 | b[i + 1]);
}
}  // namespace

Bytes ReadPdu(std::uint8_t function, std::uint16_t addr, std::uint16_t quantity) {
    Bytes pdu;
    SetReadPdu(pdu, function, addr, quantity);
    return pdu;
}

[[gnu::hot]] void SetReadPdu(Bytes& pdu, std::uint8_t function, std::uint16_t addr,
                             std::uint16_t quantity) {
    pdu.assign({function, high(addr), low(addr), high(quantity), low(quantity)});
}

Bytes DeviceIdPdu(std::uint8_t firstObject) {
    return {DeviceIdFunction, DeviceIdMei, 0x01, firstObject};
}

std::optional<std::size_t> DeviceIdLength(const Bytes& bytes, std::size_t function) {
    // Function, MEI type, read code, conformity, more follows, next object,
    // number of objects; then each object's id, length and bytes.
    std::size_t at = function + 7;
    if (bytes.size() > function + 1 && bytes[function + 1] != DeviceIdMei) return std::nullopt;
    if (bytes.size() < at) return 0;
    const int objects = bytes[at - 1];
    for (int object = 0; object < objects; ++object) {
        if (bytes.size() < at + 2) return 0;
        at += 2u + bytes[at + 1];
    }
    return at;
}

Bytes ReadFrame(std::uint8_t node, std::uint8_t function, std::uint16_t address,
                   std::uint16_t quantity) {
    const Bytes pdu = ReadPdu(function, address, quantity);
    return CostruisciTrama(8, node, function, Bytes(pdu.begin() + 1, pdu.end()));
}

[[gnu::hot]] int AnswerLength(int function, int quantity) {
    switch (function) {
        case 1:
        case 2:
            return 5 + (quantity + 7) / 8;
        case 3:
        case 4:
            return 5 + 2 * quantity;
        default:
            return 0;
    }
}

[[gnu::hot]] int AnswerLengthFor(const Bytes& request) {
    if (request.size() < 8) return 0;
    return AnswerLength(request[1], request[4] << 8 | request[5]);
}

namespace {
// The longest frames the protocol allows: 256 bytes on a serial line, an
// MBAP header's length of 254 (260 bytes) on Modbus TCP.
constexpr std::size_t LongestRtuFrame = 256;
constexpr std::size_t LongestTcpFollows = 254;

// A device identification answer is as long as its objects say, and no
// longer than a frame can be.
TransactionResult checkDeviceId(const Bytes& request, const Bytes& incoming) {
    const std::optional<std::size_t> length = DeviceIdLength(incoming, 1);
    if (!length || *length == 0 || *length + 2 > LongestRtuFrame || incoming.size() < *length + 2)
        return TransactionResult::WrongAnswer;
    if (!crcMatches(incoming, *length + 2)) return TransactionResult::CrcError;
    return incoming[0] == request[0] ? TransactionResult::Complete : TransactionResult::WrongAnswer;
}
}  // namespace

[[gnu::hot]] TransactionResult CheckAnswer(const Bytes& request, const Bytes& incoming) {
    if (request.size() >= 3 && request[1] == DeviceIdFunction && request[2] == DeviceIdMei &&
        incoming.size() >= 2 && incoming[1] == DeviceIdFunction)
        return checkDeviceId(request, incoming);
    const int expected = AnswerLengthFor(request);
    if (expected == 0 || static_cast<int>(incoming.size()) < expected)
        return TransactionResult::WrongAnswer;
    // Bytes after the expected length are not part of the answer.
    if (!crcMatches(incoming, static_cast<std::size_t>(expected)))
        return TransactionResult::CrcError;
    bool same = incoming[0] == request[0] && incoming[1] == request[1] &&
                incoming[2] == expected - 5;
    return same ? TransactionResult::Complete : TransactionResult::WrongAnswer;
}

[[gnu::hot]] bool ExceptionAnswer(const Bytes& request, const Bytes& answer) {
    return request.size() >= 2 && answer.size() == 5 && answer[0] == request[0] &&
           answer[1] == (request[1] | 0x80) && crcMatches(answer);
}

Bytes TcpFrame(std::uint8_t unit, const Bytes& pdu, std::uint16_t transazione) {
    Bytes frame;
    SetTcpFrame(frame, unit, pdu, transazione);
    return frame;
}

[[gnu::hot]] void SetTcpFrame(Bytes& frame, std::uint8_t unit, const Bytes& pdu,
                              std::uint16_t transazione) {
    const auto frameLength = static_cast<std::uint16_t>(pdu.size() + 1);
    frame.assign({high(transazione), low(transazione), std::uint8_t{0}, std::uint8_t{0},
                  high(frameLength), low(frameLength), unit});
    frame.insert(frame.end(), pdu.begin(), pdu.end());
}

namespace {
// Header fields that an answer shares with its request; `following` is the
// length the answer's header must give.
[[gnu::hot]] bool sameHeader(const Bytes& request, const Bytes& answer, int following) {
    return request.size() >= 8 && answer.size() >= 9 &&
           word(answer, 0) == word(request, 0) && word(answer, 2) == 0 &&
           word(answer, 4) == following && answer[6] == request[6];
}
}  // namespace

[[gnu::hot]] TransactionResult CheckTcpAnswer(const Bytes& request, const Bytes& answer) {
    if (request.size() >= 9 && request[7] == DeviceIdFunction && request[8] == DeviceIdMei) {
        const std::optional<std::size_t> length = DeviceIdLength(answer, 7);
        const bool same = length && *length > 0 && *length == answer.size() &&
                          answer.size() <= 6 + LongestTcpFollows &&
                          word(answer, 0) == word(request, 0) &&
                          word(answer, 2) == 0 && word(answer, 4) == answer.size() - 6 &&
                          answer[6] == request[6] && answer[7] == DeviceIdFunction;
        return same ? TransactionResult::Complete : TransactionResult::WrongAnswer;
    }
    if (request.size() < 12) return TransactionResult::WrongAnswer;
    // The same data as the RTU answer, between the header and no CRC.
    const int payload = AnswerLength(request[7], word(request, 10)) - 5;
    if (payload < 0 || !sameHeader(request, answer, payload + 3) ||
        answer[7] != request[7] || answer[8] != payload)
        return TransactionResult::WrongAnswer;
    return TransactionResult::Complete;
}

[[gnu::hot]] bool TcpExceptionAnswer(const Bytes& request, const Bytes& answer) {
    return answer.size() == 9 && sameHeader(request, answer, 3) &&
           answer[7] == (request[7] | 0x80);
}

[[gnu::hot]] FrameAtFront RtuFrameAtFront(const Bytes& bytes) {
    if (bytes.size() < 2) return {};
    const std::uint8_t function = bytes[1];
    std::size_t length = 0;
    if (function & 0x80)
        length = 5;
    else if (function == 8)
        length = 8;
    else if (function == DeviceIdFunction) {
        const std::optional<std::size_t> objects = DeviceIdLength(bytes, 1);
        if (!objects || *objects + 2 > LongestRtuFrame) return {FrameAtFront::NotAFrame, 0};
        if (*objects == 0) return {};
        length = *objects + 2;
    }
    else if (function >= 1 && function <= 4 && bytes.size() < 3)
        return {};
    else if (function >= 1 && function <= 4)
        length = 5u + bytes[2];
    else
        return {FrameAtFront::NotAFrame, 0};
    // A byte count beyond 251 would make the frame longer than the line
    // lets one be, whatever its CRC.
    if (length > LongestRtuFrame) return {FrameAtFront::NotAFrame, 0};
    if (bytes.size() < length) return {FrameAtFront::Incomplete, length};
    if (!crcMatches(bytes, length)) return {FrameAtFront::NotAFrame, 0};
    return {FrameAtFront::Whole, length};
}

[[gnu::hot]] FrameAtFront TcpFrameAtFront(const Bytes& bytes) {
    if (bytes.size() < 6) return {};
    const std::size_t follows = word(bytes, 4);
    if (word(bytes, 2) != 0 || follows < 2 || follows > LongestTcpFollows) return {FrameAtFront::NotAFrame, 0};
    return {bytes.size() < 6 + follows ? FrameAtFront::Incomplete : FrameAtFront::Whole,
            6 + follows};
}

[[gnu::hot]] bool RtuAnswers(const Bytes& request, ByteView frame) {
    if (request.size() < 2 || frame.size() < 2 || frame[0] != request[0]) return false;
    if (frame[1] == (request[1] | 0x80)) return true;
    if (request[1] == DeviceIdFunction && request.size() >= 3 && request[2] == DeviceIdMei)
        return frame[1] == DeviceIdFunction;
    return frame[1] == request[1] && static_cast<int>(frame.size()) == AnswerLengthFor(request);
}

[[gnu::hot]] bool TcpAnswers(const Bytes& request, ByteView frame) {
    return request.size() >= 2 && frame.size() >= 2 && word(frame, 0) == word(request, 0);
}

std::chrono::microseconds InterFrameSilence(int baud) {
    if (baud <= 0) return std::chrono::microseconds(0);
    return std::chrono::microseconds(baud > 19200 ? 1750 : (38'500'000 + baud - 1) / baud);
}

}  // namespace tarvel
