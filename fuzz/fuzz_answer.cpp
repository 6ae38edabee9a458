// The check of an answer against its read request. The first six bytes give
// the request (node, function, address and quantity, big-endian; a quantity
// outside 1 to 2000 is folded into it), the rest are the bytes received.
// An answer is accepted exactly when its first AnswerLengthFor bytes
// carry the request's node and function, the byte count of that length and
// a right CRC; the master itself turns an accepted answer with more bytes
// behind it into a wrong answer, so here more bytes are allowed. The CRC is
// recomputed both with CalcolaCRC and with an independent nibble table. An
// exception answer is recognised exactly when it is one. The data of an
// accepted answer gives every item the request asked for, and nothing else.
// The same bytes are checked as the answer to the request in the Modbus TCP
// framing, with the address as its transaction identifier.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "modbus/Frame.h"
#include "modbus/Transaction.h"
#include "modbus/Value.h"

namespace {

using tarvel::Bytes;
using tarvel::TransactionResult;

void require(bool holds) {
    if (!holds) std::abort();
}

// CRC-16/MODBUS four bits at a time, from the published nibble table of the
// reflected polynomial 0xA001.
std::uint16_t nibbleCrc(const std::uint8_t* bytes, std::size_t size) {
    static const std::uint16_t table[16] = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00,
                                            0x2800, 0xE401, 0xA001, 0x6C00, 0x7800, 0xB401,
                                            0x5000, 0x9C01, 0x8801, 0x4400};
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>(table[(crc ^ bytes[i]) & 0x0F] ^ (crc >> 4));
        crc = static_cast<std::uint16_t>(table[(crc ^ (bytes[i] >> 4)) & 0x0F] ^ (crc >> 4));
    }
    return crc;
}

// A frame whose last two bytes are the CRC of the others, low byte first.
bool crcRight(const Bytes& frame, std::size_t length) {
    if (length < 3 || frame.size() < length) return false;
    const Bytes body(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length - 2));
    const std::uint16_t crc = tarvel::CalcolaCRC(body);
    require(crc == nibbleCrc(body.data(), body.size()));
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

// The length of the answer to a read: node, function, byte count, data and
// CRC; the data is one byte per eight coils or inputs, two per register.
int answerLength(int function, int quantity) {
    if (function == 1 || function == 2) return 5 + (quantity + 7) / 8;
    if (function == 3 || function == 4) return 5 + 2 * quantity;
    return 0;
}

// The number of one or two items, as a value line takes them.
double number(const std::vector<std::uint16_t>& items, bool registers, bool unsignedValue,
              bool swapped = false) {
    const auto type =
        items.size() == 1 ? tarvel::ValueType::Int16 : tarvel::ValueType::Int32;
    const auto read = tarvel::DecodeValue(items, registers, {type, unsignedValue, swapped});
    require(read.has_value());
    return read->value;
}

// The items of the answer's data as the master keeps them in its
// transaction: each one found where the request asked for it, and none
// outside.
void checkItems(const Bytes& answer, std::uint8_t function, std::uint16_t address,
                std::uint16_t quantity) {
    tarvel::Transaction t;
    t.function = function;
    t.address = address;
    t.quantity = quantity;
    t.outcome = TransactionResult::Complete;
    const Bytes data(answer.begin() + 3, answer.begin() + 3 + answer[2]);
    if (function <= 2) t.bits = data;
    for (std::size_t i = 0; function > 2 && i + 1 < data.size(); i += 2)
        t.registers.push_back(static_cast<std::uint16_t>(data[i] << 8 | data[i + 1]));

    const std::uint32_t first = address;
    const std::uint32_t end = first + quantity;
    if (first > 0) require(!t.item(first - 1));
    require(!t.item(end));
    std::optional<std::uint16_t> previous;
    for (std::uint32_t item = first; item < end; ++item) {
        const std::optional<std::uint16_t> value = t.item(item);
        const std::uint32_t k = item - first;
        // Coils and inputs are packed from the low bit of the first byte.
        const unsigned raw =
            function <= 2 ? (data[k / 8] >> (k % 8)) & 1u : data[2 * k] << 8 | data[2 * k + 1];
        require(value == raw && number({*value}, function > 2, true) == raw);
        if (function <= 2) continue;
        require(number({*value}, true, false) == static_cast<std::int16_t>(raw));
        require(number({*value}, true, true, true) == (data[2 * k + 1] << 8 | data[2 * k]));
        if (previous) require(number({*previous, *value}, true, true) == *previous * 65536.0 + raw);
        previous = value;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const std::uint8_t node = data[0];
    const std::uint8_t function = data[1];
    const auto address = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
    auto quantity = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
    if (quantity < 1 || quantity > tarvel::MaxBlockBits)
        quantity = static_cast<std::uint16_t>(quantity % tarvel::MaxBlockBits + 1);
    const Bytes answer(data + 6, data + size);

    // A device identification request (43, MEI type 14) has answers of its
    // own length: fuzz_device_id checks them.
    if (function == tarvel::DeviceIdFunction && data[2] == tarvel::DeviceIdMei) return 0;
    const Bytes request = tarvel::ReadFrame(node, function, address, quantity);
    require(request.size() == 8 && crcRight(request, 8));
    require(request[0] == node && request[1] == function);
    require((request[2] << 8 | request[3]) == address &&
            (request[4] << 8 | request[5]) == quantity);

    const int expected = answerLength(function, quantity);
    require(tarvel::AnswerLengthFor(request) == expected);

    const TransactionResult result = tarvel::CheckAnswer(request, answer);
    const bool whole = expected > 0 && answer.size() >= static_cast<std::size_t>(expected);
    const bool crc = whole && crcRight(answer, static_cast<std::size_t>(expected));
    const bool matches =
        whole && answer[0] == node && answer[1] == function && answer[2] == expected - 5;
    if (!whole)
        require(result == TransactionResult::WrongAnswer);
    else if (!crc)
        require(result == TransactionResult::CrcError);
    else
        require(result ==
                (matches ? TransactionResult::Complete : TransactionResult::WrongAnswer));

    const bool exception = answer.size() == 5 && answer[0] == node &&
                           answer[1] == (function | 0x80) && crcRight(answer, 5);
    require(tarvel::ExceptionAnswer(request, answer) == exception);

    if (result == TransactionResult::Complete) checkItems(answer, function, address, quantity);

    const Bytes mbap =
        tarvel::TcpFrame(node, Bytes(request.begin() + 1, request.end() - 2), address);
    require(mbap == Bytes({request[2], request[3], 0, 0, 0, 6, node, function, request[2],
                           request[3], request[4], request[5]}));
    auto header = [&](int follows) {
        return answer.size() >= 9 && answer[0] == mbap[0] && answer[1] == mbap[1] &&
               answer[2] == 0 && answer[3] == 0 && (answer[4] << 8 | answer[5]) == follows &&
               answer[6] == node;
    };
    const int dataBytes = expected - 5;
    const bool tcpMatches =
        expected > 0 && header(dataBytes + 3) && answer[7] == function && answer[8] == dataBytes;
    require(tarvel::CheckTcpAnswer(mbap, answer) ==
            (tcpMatches ? TransactionResult::Complete : TransactionResult::WrongAnswer));
    require(tarvel::TcpExceptionAnswer(mbap, answer) ==
            (answer.size() == 9 && header(3) && answer[7] == (function | 0x80)));
    return 0;
}
