#pragma once
// SunSpec maps: the marker "SunS" at holding register 40000, 0 or 50000,
// then model after model, each an ID, a length L and L registers, until
// the ID 0xFFFF. The models the table knows become request lines, one per
// point that has a value.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvel {

enum class PointType : std::uint8_t {
    Int16, Uint16, Count, Acc16, Enum16, Bitfield16, Int32, Uint32, Acc32, Enum32, Bitfield32,
    Float32, Acc64, Int64, Uint64, Float64, String, ScaleFactor, Pad
};

struct SunSpecPoint {
    const char* name;
    std::uint16_t offset;  // from the model's ID register (a module's first)
    PointType type;
    std::uint8_t size;  // registers
    const char* units;  // as the model names them; empty for none
    std::int16_t scaleOffset;  // the scale factor's offset; -1 for none
    bool scaleInModule;        // that offset counts from the module's start
};

struct SunSpecModel {
    std::uint16_t id;
    const char* name;
    const SunSpecPoint* points;  // after ID and L
    std::size_t pointCount;
    std::uint16_t fixedLength;  // registers of the fixed part, ID and L included
    const SunSpecPoint* module;  // a repeating module, or nullptr
    std::size_t moduleCount;
    std::uint16_t moduleLength;
};

// The model of the table with that ID; nullptr when it is not known.
const SunSpecModel* FindModel(std::uint16_t id);

// `count` holding registers from `address`; nothing when the read failed.
using RegisterReader =
    std::function<std::optional<std::vector<std::uint16_t>>(std::uint16_t, std::uint16_t)>;

struct ModelFound {
    std::uint16_t id = 0;
    std::uint16_t address = 0;  // of its ID register
    std::uint16_t length = 0;   // L: the registers after ID and L
};

// The first register of the marker, whose two registers `first` already
// holds for 40000 when given; nothing when no address has it.
std::optional<std::uint16_t> FindMarker(const RegisterReader& read,
                                        const std::optional<std::vector<std::uint16_t>>& first);
// The models from `address` (the one after the marker) until the end
// marker, a failed read, or a model that would run past the last register.
std::vector<ModelFound> WalkModels(const RegisterReader& read, std::uint16_t address);

// One line of a device's fragment: a read of holding registers, or a
// constant read at scan time.
struct PointLine {
    std::string name;
    std::string registerField;  // a read: the address and its type letters
    std::string decimals;       // "0" or "@" and the scale factor's register
    std::string unit;
    std::optional<std::string> constant;  // a constant's text
};

// The lines of a known model whose registers, from its ID on, are
// `registers`: points that are not implemented (their pattern, or their
// scale factor's) give no line; pads and scale factors neither.
std::vector<PointLine> ModelLines(const SunSpecModel& model, const ModelFound& found,
                                  const std::vector<std::uint16_t>& registers);

// The text of a string point: its bytes up to the first NUL, blanks at the
// ends trimmed, and what could not stand in a constant line (",", ";",
// "&", bytes outside printable ASCII) as blanks.
std::string PointText(const std::vector<std::uint16_t>& registers, std::size_t first,
                      std::size_t count);

// A model's unit as a request line writes it ("Pct" is "%", "C" is "°C").
std::string UnitOf(const char* units);

}  // namespace tarvel
