#include "acquisition/Chiamata.h"

#include <algorithm>

#include "settings/Number.h"

namespace tarvel {
namespace {

bool startsWithWord(std::string_view line, std::string_view word) {
    return line.size() >= word.size() && ToUpper(line.substr(0, word.size())) == word;
}

// The text after the last occurrence of separator, trimmed; the whole line
// when the separator is absent.
std::string afterLast(std::string_view line, char separator) {
    auto pos = line.rfind(separator);
    if (pos == std::string_view::npos) return std::string(line);
    return std::string(Trim(line.substr(pos + 1)));
}

struct Cut {
    Chiamata record;
    bool complete = false;
    bool every = false;  // an EVERY line
    std::string unit;    // after a second ";", trimmed
};

// "EVERY" alone or followed by a blank: a constant such as "EVERYONE,..."
// stays one.
bool isEveryLine(std::string_view line) {
    return startsWithWord(line, "EVERY") &&
           (line.size() == 5 || line[5] == ' ' || line[5] == '\t');
}

// The milliseconds of an EVERY line: digits only, 0 to MaxGroupPeriodMs.
std::optional<std::chrono::milliseconds> periodOf(std::string_view text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::int64_t ms = std::stoll(std::string(text));
    if (ms > MaxGroupPeriodMs) return std::nullopt;
    return std::chrono::milliseconds(ms);
}

Cut cutReadLine(std::string_view line) {
    Cut cut;
    Chiamata& c = cut.record;
    struct Step {
        char separator;
        std::string* field;
    };
    const Step steps[] = {{',', &c.Nodo}, {',', &c.Codice}, {',', &c.Registro}, {';', &c.Decimali}};
    std::string_view rest = line;
    for (const Step& step : steps) {
        auto pos = rest.find(step.separator);
        if (pos == std::string_view::npos) {
            // The field that lacks its separator keeps what is left; the
            // fields after it stay empty.
            *step.field = std::string(rest);
            return cut;
        }
        *step.field = std::string(rest.substr(0, pos));
        rest = Trim(rest.substr(pos + 1));
    }
    // A second ";" ends the description; the rest is the unit.
    const auto unit = rest.find(';');
    c.Descrizione = std::string(unit == std::string_view::npos ? rest : Trim(rest.substr(0, unit)));
    if (unit != std::string_view::npos) cut.unit = std::string(Trim(rest.substr(unit + 1)));
    cut.complete = true;
    return cut;
}

// Removes every c from text and trims it; false when there was none.
bool takeMarker(std::string& text, char c) {
    if (text.find(c) == std::string::npos) return false;
    text.erase(std::remove(text.begin(), text.end(), c), text.end());
    text = std::string(Trim(text));
    return true;
}

std::optional<std::int16_t> leadingInt16(const std::string& text) {
    return RoundToInt16(LeadingNumber(text));
}

}  // namespace

std::optional<std::uint16_t> RegisterAddress(std::string_view text) {
    const auto n = RoundToInt32(LeadingNumber(text));
    if (!n || *n < -32768 || *n > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(*n & 0xFFFF);
}

namespace {

// Removes every letter c, in either case; false when there was none.
bool takeLetter(std::string& text, char c) {
    const bool upper = takeMarker(text, c);
    return takeMarker(text, static_cast<char>(c - 'A' + 'a')) || upper;
}

// The register markers and the four numbers of a read or constant line.
// Only "&" means something to a constant.
void cutValueFields(RequestLine& line) {
    Chiamata& c = line.shownFields;
    c = line.fields;
    ReadParameters p;
    p.format.isUnsigned = takeMarker(c.Registro, '&');
    // A constant keeps its register field, "&" taken out, as its value.
    if (line.kind == LineKind::Constant) return;
    // "+" wins over "-", which is then a sign.
    const bool up = takeMarker(c.Registro, '+');
    const bool down = !up && takeMarker(c.Registro, '-');
    if (up || down) p.format.kind = ValueType::Int32;
    p.lowWordNext = up;
    const std::pair<char, ValueType> kinds[] = {
        {'F', ValueType::Float32}, {'D', ValueType::Float64}, {'Q', ValueType::Int64}};
    int chosen = 0;
    for (const auto& [letter, kind] : kinds) {
        if (!takeLetter(c.Registro, letter)) continue;
        p.format.kind = kind;
        p.lowWordNext = !down;
        ++chosen;
    }
    p.format.swapBytes = takeLetter(c.Registro, 'S');
    p.format.noValue = takeLetter(c.Registro, 'N');
    // Two types at once: which one was meant cannot be told.
    if (chosen > 1) return;
    const std::string_view decimals = Trim(c.Decimali);
    if (decimals.starts_with('@')) {
        p.scaleRegister = RegisterAddress(decimals.substr(1));
        if (!p.scaleRegister) return;
    } else if (auto d = leadingInt16(c.Decimali)) {
        p.decimals = *d;
    } else {
        return;
    }
    auto function = leadingInt16(c.Codice);
    auto address = RegisterAddress(c.Registro);
    auto node = leadingInt16(c.Nodo);
    if (!function || !address || !node) return;
    p.function = *function;
    p.address = *address;
    p.node = *node;
    line.reading = p;
}

LineKind kindOf(std::string_view line, const Chiamata& c, bool complete, bool every) {
    if (line.empty()) return LineKind::Empty;
    if (every) return LineKind::Every;
    if (c.Nodo == "*") return LineKind::Serial;
    if (c.Nodo == "#") return LineKind::Wait;
    if (c.Nodo == "%") return LineKind::Next;
    if (!complete) return LineKind::Invalid;
    return LeadingNumber(c.Nodo) == 0 ? LineKind::Constant : LineKind::Read;
}

Cut cut(std::string_view line) {
    if (startsWithWord(line, "SERIAL"))
        return {{"*", afterLast(line, '_'), "*", "*", "Serial settings"}, true, false, {}};
    if (startsWithWord(line, "SLEEP"))
        return {{"#", afterLast(line, ' '), "*", "*", "Wait"}, true, false, {}};
    if (startsWithWord(line, "NEXT")) return {{"%", "*", "*", "*", "Next device"}, true, false, {}};
    if (isEveryLine(line))
        return {{"~", std::string(Trim(line.substr(5))), "*", "*", "Every"}, true, true, {}};
    return cutReadLine(line);
}

}  // namespace

Chiamata CutLine(std::string_view line) { return cut(Trim(line)).record; }

LineKind KindOfLine(std::string_view line) { return LoadLine(line).kind; }

RequestLine LoadLine(std::string_view text) {
    RequestLine line;
    line.text = std::string(text);
    const std::string_view trimmed = Trim(text);
    Cut c = cut(trimmed);
    line.fields = std::move(c.record);
    line.kind = kindOf(trimmed, line.fields, c.complete, c.every);
    if (line.kind == LineKind::Read || line.kind == LineKind::Constant)
        line.unit = std::move(c.unit);
    switch (line.kind) {
        case LineKind::Read:
        case LineKind::Constant:
            cutValueFields(line);
            break;
        case LineKind::Serial:
            line.profile = leadingInt16(line.fields.Codice);
            break;
        case LineKind::Wait:
            line.wait = std::chrono::milliseconds(
                RoundToInt32(std::max(LeadingNumber(line.fields.Codice), 0.0)).value_or(0));
            break;
        case LineKind::Every:
            line.period = periodOf(line.fields.Codice);
            break;
        default:
            break;
    }
    return line;
}

const char* LineKindName(LineKind kind) {
    switch (kind) {
        case LineKind::Read:
            return "read";
        case LineKind::Constant:
            return "constant";
        case LineKind::Serial:
            return "serial";
        case LineKind::Wait:
            return "wait";
        case LineKind::Next:
            return "next";
        case LineKind::Empty:
            return "empty";
        case LineKind::Invalid:
            return "invalid";
        case LineKind::Every:
            return "every";
    }
    return "invalid";
}

}  // namespace tarvel
