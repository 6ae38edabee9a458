// Map file format (one statement per line, blank lines ignored, '#' starts a
// comment that runs to the end of the line; numbers are decimal or 0x hex):
//
//   node N                  the table lines below belong to node N (1-247)
//   coil ADDR VALUE         coil (functions 1, 5, 15)
//   discrete ADDR VALUE     discrete input (function 2)
//   holding ADDR VALUE      holding register (functions 3, 6, 16)
//   input ADDR VALUE        input register (function 4)
//       ADDR 0-65535. VALUE: -32768..65535 for registers (negative values are
//       stored as their two's complement), 0 or 1 for coils and inputs, or a
//       live value:
//       live:voltage[:CENTRE[:SPREAD]]  CENTRE +- SPREAD, new at every read
//                                       (2300 and 20: 230.0 V with decimals 1)
//       live:power[:PEAK]               PEAK * sin(pi * (h - 6) / 12) W for the
//                                       local hour h between 6 and 18, +-1 %
//                                       noise, 0 at night (PEAK 3000)
//       live:energy_hi[:RATE[:START]]   high word of the node's 32-bit counter
//       live:energy_lo[:RATE[:START]]   low word of the same counter
//                                       RATE "solar" (default): Wh of the
//                                       node's power curve; a number: units
//                                       per second. START: first value.
//       live:status                     1 while the power curve is above 0
//       TYPE:NUMBER[:ORDER]             registers only: a value of several
//                                       registers from ADDR upward; TYPE
//                                       float32, float64, int32, uint32,
//                                       int64 or uint64; ORDER abcd (most
//                                       significant byte first, default),
//                                       cdab (words reversed), badc (bytes
//                                       swapped in each word) or dcba
//       novalue:TYPE                    the "no value" pattern of int16
//                                       (0x8000), uint16 (0xFFFF), int32,
//                                       uint32, int64 or uint64
//   sunspec inverter|meter  a SunSpec map in the holding registers from
//                           40000 (SunSpecDevice.h tells what is in it)
//   ident VENDOR | PRODUCT | REVISION
//                           the answer to Read Device Identification
//   fault N [TABLE ADDR] [every K] KIND [ARG]   TABLE is coil, discrete,
//       holding or input; with it the fault applies only to requests whose
//       range covers ADDR in that table; with "every K" only to every K-th
//       of the requests it covers. KIND: silent | exception CODE | badcrc |
//       wrongnode [NODE] | partial BYTES | delay MS | stray [BYTE] |
//       wrongtid (Modbus TCP answers only: transaction identifier + 1) |
//       nodiag (function 8 refused with exception 1)
//
// Every node has all 65536 items of each table; items not listed read 0.

#include "PlantMap.h"

#include "SunSpecDevice.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tarvel::sim {

namespace {

using Tokens = std::vector<std::string>;

Tokens SplitLine(const std::string& line) {
    std::string text = line.substr(0, line.find('#'));
    std::istringstream stream(text);
    Tokens tokens;
    std::string token;
    while (stream >> token) tokens.push_back(token);
    return tokens;
}

bool ParseInteger(std::string_view text, long min, long max, long& out) {
    bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return false;
    if (negative) value = -value;
    if (value < min || value > max) return false;
    out = value;
    return true;
}

bool ParseReal(std::string_view text, double& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::optional<Table> ParseTable(const std::string& word) {
    if (word == "coil") return Table::Coil;
    if (word == "discrete") return Table::Discrete;
    if (word == "holding") return Table::Holding;
    if (word == "input") return Table::Input;
    return std::nullopt;
}

std::vector<std::string_view> SplitColons(std::string_view text) {
    std::vector<std::string_view> parts;
    while (true) {
        auto colon = text.find(':');
        parts.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) return parts;
        text.remove_prefix(colon + 1);
    }
}

bool ParseCounter(const std::vector<std::string_view>& parts, CounterSpec& counter) {
    if (parts.size() > 4) return false;
    if (parts.size() >= 3 && parts[2] != "solar") {
        if (!ParseReal(parts[2], counter.rate) || counter.rate < 0) return false;
        counter.solar = false;
    }
    if (parts.size() == 4) {
        long start = 0;
        if (!ParseInteger(parts[3], 0, 0xFFFFFFFFL, start)) return false;
        counter.start = static_cast<std::uint32_t>(start);
    }
    return true;
}

// "live:KIND[:ARG...]" for the table entry `entry` of `node`.
bool ParseLive(std::string_view text, LiveRegister entry, NodeMap& node) {
    auto parts = SplitColons(text);
    if (parts.size() < 2 || parts[0] != "live") return false;
    const std::string_view kind = parts[1];
    if (kind == "voltage") {
        entry.kind = LiveKind::Voltage;
        if (parts.size() > 4) return false;
        if (parts.size() >= 3 && !ParseReal(parts[2], entry.centre)) return false;
        if (parts.size() == 4 && !ParseReal(parts[3], entry.spread)) return false;
    } else if (kind == "power") {
        entry.kind = LiveKind::Power;
        if (parts.size() > 3) return false;
        if (parts.size() == 3 && (!ParseReal(parts[2], node.peakPower) || node.peakPower < 0))
            return false;
    } else if (kind == "energy_hi" || kind == "energy_lo") {
        entry.kind = kind == "energy_hi" ? LiveKind::EnergyHigh : LiveKind::EnergyLow;
        if (!ParseCounter(parts, node.counter)) return false;
    } else if (kind == "status") {
        entry.kind = LiveKind::Status;
        if (parts.size() != 2) return false;
    } else {
        return false;
    }
    node.live.push_back(entry);
    return true;
}

// The registers of a value of `bytes` bytes held most significant first,
// in `order`; false for an order that is not one of the four.
bool OrderWords(std::uint64_t value, int bytes, std::string_view order,
                std::vector<std::uint16_t>& words) {
    std::vector<std::uint16_t> big;
    for (int shift = 8 * bytes - 16; shift >= 0; shift -= 16)
        big.push_back(static_cast<std::uint16_t>(value >> shift));
    const bool reversed = order == "cdab" || order == "dcba";
    const bool swapped = order == "badc" || order == "dcba";
    if (!reversed && !swapped && order != "abcd") return false;
    if (reversed) std::reverse(big.begin(), big.end());
    if (swapped)
        for (auto& w : big) w = static_cast<std::uint16_t>(w << 8 | w >> 8);
    words = std::move(big);
    return true;
}

// "TYPE:NUMBER[:ORDER]" or "novalue:TYPE".
bool ParseTyped(const std::vector<std::string_view>& parts, std::vector<std::uint16_t>& words) {
    if (parts.size() == 2 && parts[0] == "novalue") {
        const std::pair<std::string_view, std::pair<std::uint64_t, int>> patterns[] = {
            {"int16", {0x8000, 2}},
            {"uint16", {0xFFFF, 2}},
            {"int32", {0x80000000, 4}},
            {"uint32", {0xFFFFFFFF, 4}},
            {"int64", {0x8000000000000000, 8}},
            {"uint64", {0xFFFFFFFFFFFFFFFF, 8}}};
        for (const auto& [type, pattern] : patterns)
            if (parts[1] == type) return OrderWords(pattern.first, pattern.second, "abcd", words);
        return false;
    }
    if (parts.size() < 2 || parts.size() > 3) return false;
    const std::string_view order = parts.size() == 3 ? parts[2] : "abcd";
    const std::string_view type = parts[0], number = parts[1];
    // Not through libmodbus's modbus_set_float_* setters: those of 3.1.6
    // swap the bytes of each word even for abcd (its getters are right).
    if (type == "float32") {
        double value = 0;
        return ParseReal(number, value) &&
               OrderWords(std::bit_cast<std::uint32_t>(static_cast<float>(value)), 4, order, words);
    }
    if (type == "float64") {
        double value = 0;
        return ParseReal(number, value) &&
               OrderWords(std::bit_cast<std::uint64_t>(value), 8, order, words);
    }
    const bool is32 = type == "int32" || type == "uint32";
    if (!is32 && type != "int64" && type != "uint64") return false;
    const bool negative = number.starts_with('-');
    if (negative && type.starts_with('u')) return false;
    std::string_view digits = negative ? number.substr(1) : number;
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) return false;
    const std::uint64_t limit = type == "int32"    ? 0x7FFFFFFFull + negative
                                : type == "uint32" ? 0xFFFFFFFFull
                                : type == "int64"  ? 0x7FFFFFFFFFFFFFFFull + negative
                                                   : ~0ull;
    if (magnitude > limit) return false;
    std::uint64_t value = negative ? 0 - magnitude : magnitude;
    if (is32) value &= 0xFFFFFFFF;
    return OrderWords(value, is32 ? 4 : 8, order, words);
}

bool ParseTableLine(const Tokens& tokens, Table table, NodeMap& node, std::string& error) {
    long address = 0;
    if (tokens.size() != 3 || !ParseInteger(tokens[1], 0, 0xFFFF, address)) {
        error = "expected: " + tokens[0] + " ADDRESS VALUE";
        return false;
    }
    const auto at = static_cast<std::uint16_t>(address);
    if (tokens[2].starts_with("live:")) {
        if (ParseLive(tokens[2], LiveRegister{table, at}, node)) return true;
        error = "bad live value '" + tokens[2] + "'";
        return false;
    }
    const bool bit = table == Table::Coil || table == Table::Discrete;
    if (!bit && tokens[2].find(':') != std::string::npos) {
        std::vector<std::uint16_t> words;
        if (!ParseTyped(SplitColons(tokens[2]), words) || address + words.size() > 0x10000) {
            error = "bad value '" + tokens[2] + "'";
            return false;
        }
        for (std::size_t i = 0; i < words.size(); ++i)
            node.fixed.push_back(FixedValue{
                table, static_cast<std::uint16_t>(address + static_cast<long>(i)), words[i]});
        return true;
    }
    long value = 0;
    if (!ParseInteger(tokens[2], bit ? 0 : -32768, bit ? 1 : 0xFFFF, value)) {
        error = "bad value '" + tokens[2] + "'";
        return false;
    }
    node.fixed.push_back(FixedValue{table, at, static_cast<std::uint16_t>(value & 0xFFFF)});
    return true;
}

struct FaultWord {
    const char* word;
    FaultKind kind;
    bool takesArgument;
    bool needsArgument;
    long min;
    long max;
};

constexpr FaultWord kFaultWords[] = {
    {"silent", FaultKind::Silent, false, false, 0, 0},
    {"exception", FaultKind::Exception, true, true, 1, 255},
    {"badcrc", FaultKind::BadCrc, false, false, 0, 0},
    {"wrongnode", FaultKind::WrongNode, true, false, 0, 255},
    {"partial", FaultKind::Partial, true, true, 0, 255},
    {"delay", FaultKind::Delay, true, true, 0, 60000},
    {"stray", FaultKind::Stray, true, false, 0, 255},
    {"wrongtid", FaultKind::WrongTid, false, false, 0, 0},
    {"nodiag", FaultKind::NoDiag, false, false, 0, 0},
};

// KIND [ARG] from tokens[first]; the fault's node is already set.
bool ParseFaultKind(const Tokens& tokens, std::size_t first, Fault& fault) {
    if (first >= tokens.size()) return false;
    for (const auto& word : kFaultWords) {
        if (tokens[first] != word.word) continue;
        fault.kind = word.kind;
        const std::size_t arguments = tokens.size() - first - 1;
        if (arguments > (word.takesArgument ? 1u : 0u)) return false;
        if (arguments == 0) {
            if (word.needsArgument) return false;
            fault.argument = fault.kind == FaultKind::WrongNode ? fault.node % 247 + 1 : 0xFF;
            return true;
        }
        long value = 0;
        if (!ParseInteger(tokens[first + 1], word.min, word.max, value)) return false;
        fault.argument = static_cast<int>(value);
        return true;
    }
    return false;
}

bool ParseFaultLine(const Tokens& tokens, PlantMap& map, std::string& error) {
    error = "expected: fault NODE [TABLE ADDRESS] [every K] KIND [ARGUMENT]";
    Fault fault;
    long node = 0;
    if (tokens.size() < 3 || !ParseInteger(tokens[1], 1, 247, node)) return false;
    fault.node = static_cast<int>(node);
    std::size_t kindAt = 2;
    if (auto table = ParseTable(tokens[2])) {
        long address = 0;
        if (tokens.size() < 5 || !ParseInteger(tokens[3], 0, 0xFFFF, address)) return false;
        fault.table = table;
        fault.address = static_cast<std::uint16_t>(address);
        kindAt = 4;
    }
    if (tokens.size() > kindAt + 1 && tokens[kindAt] == "every") {
        long every = 0;
        if (!ParseInteger(tokens[kindAt + 1], 1, 1000, every)) return false;
        fault.every = static_cast<int>(every);
        kindAt += 2;
    }
    if (!ParseFaultKind(tokens, kindAt, fault)) return false;
    map.nodes[fault.node];  // a node with faults answers, all zeros unless described
    map.faults.push_back(fault);
    return true;
}

// "ident A | B | C": the words between the bars, joined by one blank.
bool ParseIdent(const Tokens& tokens, NodeMap& node, std::string& error) {
    std::vector<std::string> objects{""};
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        if (tokens[i] == "|") {
            objects.emplace_back();
            continue;
        }
        objects.back() += (objects.back().empty() ? "" : " ") + tokens[i];
    }
    if (objects.size() != 3 || objects[0].empty() || objects[1].empty() || objects[2].empty() ||
        objects[0].size() + objects[1].size() + objects[2].size() > 200) {
        error = "expected: ident VENDOR | PRODUCT | REVISION";
        return false;
    }
    node.identity = std::move(objects);
    return true;
}

bool ParseStatement(const Tokens& tokens, PlantMap& map, NodeMap*& current, std::string& error) {
    if (tokens[0] == "node") {
        long node = 0;
        if (tokens.size() != 2 || !ParseInteger(tokens[1], 1, 247, node)) {
            error = "expected: node NUMBER (1-247)";
            return false;
        }
        current = &map.nodes[static_cast<int>(node)];
        return true;
    }
    if (tokens[0] == "fault") return ParseFaultLine(tokens, map, error);
    auto table = ParseTable(tokens[0]);
    if (!table && tokens[0] != "sunspec" && tokens[0] != "ident") {
        error = "unknown statement '" + tokens[0] + "'";
        return false;
    }
    if (current == nullptr) {
        error = "a 'node' line must come first";
        return false;
    }
    if (tokens[0] == "sunspec") {
        if (tokens.size() == 2 && AddSunSpecDevice(tokens[1], *current)) return true;
        error = "expected: sunspec inverter|meter";
        return false;
    }
    if (tokens[0] == "ident") return ParseIdent(tokens, *current, error);
    return ParseTableLine(tokens, *table, *current, error);
}

bool Covers(const Fault& fault, std::optional<Table> table, std::uint16_t address, int quantity) {
    if (!fault.table) return true;
    if (fault.table != table) return false;
    return fault.address >= address && fault.address < address + quantity;
}

}  // namespace

std::optional<Table> TableOfFunction(int function) {
    switch (function) {
        case 1:
        case 5:
        case 15:
            return Table::Coil;
        case 2:
            return Table::Discrete;
        case 3:
        case 6:
        case 16:
            return Table::Holding;
        case 4:
            return Table::Input;
        default:
            return std::nullopt;
    }
}

const char* TableName(Table table) {
    switch (table) {
        case Table::Coil:
            return "coil";
        case Table::Discrete:
            return "discrete";
        case Table::Holding:
            return "holding";
        case Table::Input:
            return "input";
    }
    return "?";
}

FaultSet FaultsFor(PlantMap& map, int node, std::optional<Table> table, std::uint16_t address,
                   int quantity) {
    FaultSet set;
    for (auto& fault : map.faults) {
        if (fault.node != node || !Covers(fault, table, address, quantity)) continue;
        if (++fault.seen % fault.every != 0) continue;
        switch (fault.kind) {
            case FaultKind::Silent:
                set.silent = true;
                break;
            case FaultKind::Exception:
                set.exception = fault.argument;
                break;
            case FaultKind::BadCrc:
                set.badCrc = true;
                break;
            case FaultKind::WrongNode:
                set.wrongNode = fault.argument;
                break;
            case FaultKind::Partial:
                set.partial = fault.argument;
                break;
            case FaultKind::Delay:
                set.delayMs += fault.argument;
                break;
            case FaultKind::Stray:
                set.stray = fault.argument;
                break;
            case FaultKind::WrongTid:
                set.wrongTid = true;
                break;
            case FaultKind::NoDiag:
                set.noDiagnostics = true;
                break;
        }
    }
    return set;
}

bool ParsePlantMap(const std::string& text, PlantMap& map, std::string& error) {
    PlantMap parsed;
    NodeMap* current = nullptr;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const Tokens tokens = SplitLine(line);
        if (tokens.empty()) continue;
        if (!ParseStatement(tokens, parsed, current, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            return false;
        }
    }
    map = std::move(parsed);
    return true;
}

bool LoadPlantMap(const std::string& path, PlantMap& map, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (ParsePlantMap(text.str(), map, error)) return true;
    error = path + ": " + error;
    return false;
}

}  // namespace tarvel::sim
