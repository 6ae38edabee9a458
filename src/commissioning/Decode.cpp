#include "commissioning/Decode.h"

#include <charconv>

#include "modbus/Value.h"

namespace tarvel {
namespace {

struct Order {
    const char* name;
    const char* name64;
    bool downward;  // the field names the last register and "-"
    bool swap;
};
constexpr Order Orders[] = {
    {"abcd", "abcdefgh", false, false},
    {"cdab", "ghefcdab", true, false},
    {"badc", "badcfehg", false, true},
    {"dcba", "hgfedcba", true, true}};

std::string numberText(const std::optional<ParsedNumber>& n) {
    if (!n) return "-";
    if (n->integer) return (n->negative ? "-" : "") + std::to_string(n->magnitude);
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, n->value).ptr;
    return std::string(text, end);
}

// The items a field reads, most significant first, as the execution takes them.
std::vector<std::uint16_t> itemsOf(const std::vector<std::uint16_t>& r, int words, bool downward) {
    std::vector<std::uint16_t> items;
    for (int i = 0; i < words; ++i) items.push_back(downward ? r[static_cast<std::size_t>(words - 1 - i)] : r[static_cast<std::size_t>(i)]);
    return items;
}

void addKind(std::vector<DecodedReading>& out, std::uint16_t address,
             const std::vector<std::uint16_t>& r, ValueType kind, const char* letter,
             const char* name, bool withUnsigned) {
    const int words = WordsOf(kind);
    for (const Order& order : Orders) {
        for (const bool isUnsigned : {false, true}) {
            if (isUnsigned && !withUnsigned) continue;
            const std::string field =
                std::to_string(order.downward ? address + words - 1 : address) + letter +
                (order.downward ? "-" : "") + (isUnsigned ? "&" : "") + (order.swap ? "S" : "");
            const ValueFormat format{kind, isUnsigned, order.swap, false};
            out.push_back({field, std::string(isUnsigned ? "u" : "") + name + " " + (words == 4 ? order.name64 : order.name),
                           numberText(DecodeValue(itemsOf(r, words, order.downward), true, format))});
        }
    }
}

}  // namespace

std::vector<DecodedReading> DecodeRegisters(std::uint16_t address,
                                            const std::vector<std::uint16_t>& registers) {
    std::vector<DecodedReading> out;
    if (registers.size() < 4 || address > 65532) return out;
    const std::vector<std::uint16_t> first{registers[0]};
    for (const bool swap : {false, true})
        for (const bool isUnsigned : {false, true})
            out.push_back({std::to_string(address) + (isUnsigned ? "&" : "") + (swap ? "S" : ""),
                           std::string(isUnsigned ? "uint16" : "int16") + (swap ? " ba" : " ab"),
                           numberText(DecodeValue(first, true, {ValueType::Int16, isUnsigned, swap, false}))});
    // The 32-bit integer's field has no type letter: "+" upward, "-" downward.
    for (const Order& order : Orders)
        for (const bool isUnsigned : {false, true}) {
            const std::string field = std::to_string(order.downward ? address + 1 : address) +
                                      (order.downward ? "-" : "+") + (isUnsigned ? "&" : "") +
                                      (order.swap ? "S" : "");
            const ValueFormat format{ValueType::Int32, isUnsigned, order.swap, false};
            out.push_back({field, std::string(isUnsigned ? "uint32 " : "int32 ") + order.name,
                           numberText(DecodeValue(itemsOf(registers, 2, order.downward), true, format))});
        }
    addKind(out, address, registers, ValueType::Float32, "F", "float32", false);
    addKind(out, address, registers, ValueType::Int64, "Q", "int64", true);
    addKind(out, address, registers, ValueType::Float64, "D", "float64", false);
    return out;
}

}  // namespace tarvel
