#include "commissioning/SunSpec.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace tarvel {
namespace {

#include "commissioning/SunSpecTable.inc"

constexpr std::uint16_t MarkerHigh = 0x5375;  // "Su"
constexpr std::uint16_t MarkerLow = 0x6E53;   // "nS"
constexpr std::uint16_t EndId = 0xFFFF;
// More models than any device has: a map that never ends stops here.
constexpr int MostModels = 100;

bool isMarker(const std::optional<std::vector<std::uint16_t>>& words) {
    return words && words->size() >= 2 && (*words)[0] == MarkerHigh && (*words)[1] == MarkerLow;
}

// How a point's type is read: the register field's letters, and its "not
// implemented" pattern: the one N knows, or for an accumulator 0 (nothing
// accumulated yet) and for a float NaN, which read without N.
struct TypeReading {
    const char* letters;
    std::optional<std::uint64_t> notImplemented;
};

std::optional<TypeReading> readingOf(PointType type) {
    switch (type) {
        case PointType::Int16:
            return TypeReading{"N", 0x8000};
        case PointType::Uint16:
        case PointType::Enum16:
        case PointType::Bitfield16:
            return TypeReading{"&N", 0xFFFF};
        case PointType::Count:
            return TypeReading{"&", std::nullopt};
        case PointType::Acc16:  // 0: nothing accumulated, no value yet
            return TypeReading{"&", 0};
        case PointType::Int32:
            return TypeReading{"+N", 0x80000000};
        case PointType::Uint32:
        case PointType::Enum32:
        case PointType::Bitfield32:
            return TypeReading{"+&N", 0xFFFFFFFF};
        case PointType::Acc32:
            return TypeReading{"+&", 0};
        case PointType::Float32:  // NaN: no value, whatever the letters
            return TypeReading{"F", 0x7FC00000};
        case PointType::Int64:
            return TypeReading{"QN", 0x8000000000000000};
        case PointType::Uint64:
            return TypeReading{"Q&N", 0xFFFFFFFFFFFFFFFF};
        case PointType::Acc64:
            return TypeReading{"Q&", 0};
        case PointType::Float64:
            return TypeReading{"D", 0x7FF8000000000000};
        case PointType::String:
        case PointType::ScaleFactor:
        case PointType::Pad:
            break;
    }
    return std::nullopt;
}

std::uint64_t joined(const std::vector<std::uint16_t>& registers, std::size_t first,
                     std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = first; i < first + count; ++i) value = value << 16 | registers[i];
    return value;
}

// The line of one point whose first register is registers[at] and the
// device's address[at]; nothing when it has no value.
std::optional<PointLine> pointLine(const SunSpecPoint& point, std::size_t at,
                                   std::optional<std::size_t> scaleAt, std::uint16_t address,
                                   const std::vector<std::uint16_t>& registers) {
    PointLine line{point.name, {}, "0", UnitOf(point.units), std::nullopt};
    if (point.type == PointType::String) {
        line.constant = PointText(registers, at, point.size);
        if (line.constant->empty()) return std::nullopt;
        return line;
    }
    const std::optional<TypeReading> reading = readingOf(point.type);
    if (!reading) return std::nullopt;
    if (reading->notImplemented && joined(registers, at, point.size) == *reading->notImplemented)
        return std::nullopt;
    if (scaleAt) {
        if (*scaleAt >= registers.size() || registers[*scaleAt] == 0x8000) return std::nullopt;
        line.decimals = "@" + std::to_string(address - at + *scaleAt);
    }
    line.registerField = std::to_string(address) + reading->letters;
    return line;
}

// The lines of `points`, whose offsets count from registers[start]; a
// module's names end in "_" and its number.
void appendPoints(const SunSpecPoint* points, std::size_t count, std::size_t start,
                  const std::string& suffix, const ModelFound& found,
                  const std::vector<std::uint16_t>& registers, std::vector<PointLine>& lines) {
    for (std::size_t i = 0; i < count; ++i) {
        const SunSpecPoint& point = points[i];
        const std::size_t at = start + point.offset;
        if (at + point.size > registers.size()) continue;
        std::optional<std::size_t> scaleAt;
        if (point.scaleOffset >= 0)
            scaleAt = static_cast<std::size_t>(point.scaleOffset) + (point.scaleInModule ? start : 0);
        const auto address = static_cast<std::uint16_t>(found.address + at);
        if (auto line = pointLine(point, at, scaleAt, address, registers)) {
            line->name += suffix;
            lines.push_back(std::move(*line));
        }
    }
}

}  // namespace

const SunSpecModel* FindModel(std::uint16_t id) {
    const auto found = std::find_if(std::begin(KnownModels), std::end(KnownModels),
                                    [id](const SunSpecModel& m) { return m.id == id; });
    return found == std::end(KnownModels) ? nullptr : &*found;
}

std::optional<std::uint16_t> FindMarker(const RegisterReader& read,
                                        const std::optional<std::vector<std::uint16_t>>& first) {
    for (const std::uint16_t address : {std::uint16_t{40000}, std::uint16_t{0}, std::uint16_t{50000}}) {
        const bool known = address == 40000 && first;
        if (isMarker(known ? first : read(address, 2))) return address;
    }
    return std::nullopt;
}

std::vector<ModelFound> WalkModels(const RegisterReader& read, std::uint16_t address) {
    std::vector<ModelFound> models;
    std::uint32_t at = address;
    while (models.size() < MostModels && at + 2 <= 0x10000) {
        const auto header = read(static_cast<std::uint16_t>(at), 2);
        if (!header || header->size() < 2 || (*header)[0] == EndId || (*header)[0] == 0) break;
        const ModelFound model{(*header)[0], static_cast<std::uint16_t>(at), (*header)[1]};
        const std::uint32_t next = at + 2 + model.length;
        if (next > 0x10000) break;
        models.push_back(model);
        at = next;
    }
    return models;
}

std::vector<PointLine> ModelLines(const SunSpecModel& model, const ModelFound& found,
                                  const std::vector<std::uint16_t>& registers) {
    std::vector<PointLine> lines;
    appendPoints(model.points, model.pointCount, 0, "", found, registers, lines);
    if (model.module == nullptr || model.moduleLength == 0) return lines;
    for (std::size_t start = model.fixedLength, number = 1;
         start + model.moduleLength <= registers.size(); start += model.moduleLength, ++number)
        appendPoints(model.module, model.moduleCount, start, "_" + std::to_string(number), found,
                     registers, lines);
    return lines;
}

std::string PointText(const std::vector<std::uint16_t>& registers, std::size_t first,
                      std::size_t count) {
    std::string bytes;
    for (std::size_t i = first; i < first + count && i < registers.size(); ++i) {
        bytes += static_cast<char>(registers[i] >> 8);
        bytes += static_cast<char>(registers[i] & 0xFF);
    }
    bytes.resize(std::min(bytes.size(), bytes.find('\0')));
    for (char& c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == ',' || c == ';' || c == '&') c = ' ';
    }
    const auto start = bytes.find_first_not_of(' ');
    if (start == std::string::npos) return {};
    return bytes.substr(start, bytes.find_last_not_of(' ') - start + 1);
}

std::string UnitOf(const char* units) {
    static const std::pair<std::string_view, const char*> renamed[] = {
        {"Pct", "%"}, {"C", "\u00B0C"}, {"Secs", "s"}, {"AH", "Ah"}, {"ohms", "ohm"},
        {"PF", ""}, {"cos()", ""}, {"% WMax/sec", "%/s"}, {"% WGra", "%"}};
    for (const auto& [from, to] : renamed)
        if (from == units) return to;
    return units;
}

}  // namespace tarvel
