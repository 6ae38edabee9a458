#include "SunSpecDevice.h"

#include <map>

namespace tarvel::sim {
namespace {

// One letter per register of a model after its ID and length, from the
// public model definitions: i int16 (not implemented: 0x8000), u uint16
// and e enum16 (0xFFFF), f scale factor (0x8000), a acc32 (0: nothing
// accumulated), b bitfield32 (0xFFFF 0xFFFF), s string (0), p pad (0x8000).
const char* const Common = "ssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssu";
const char* const Inverter = "uuuufuuuuuufifufifififaafufufifiiiifeebbbbbbbbbbbb";
const char* const Nameplate = "eufufiiiifufiiiifufufufufp";
const char* const Meter =
    "iiiifiiiiiiiififiiiifiiiifiiiifiiiifaaaaaaaaaaaaaaaafaaaaaaaaaaaaaaaafaaaaaaaaaaaaaaaaaaaa"
    "aaaaaaaaaaaafbb";

std::uint16_t notImplemented(char type) {
    switch (type) {
        case 'u':
        case 'e':
        case 'b':
            return 0xFFFF;
        case 'a':
        case 's':
            return 0;
        default:
            return 0x8000;
    }
}

void put(NodeMap& node, std::uint16_t address, std::uint16_t value) {
    node.fixed.push_back({Table::Holding, address, value});
}

// A model at `address`: ID, length, every register at its pattern, then
// the values given, by offset from the ID.
void putModel(NodeMap& node, std::uint16_t address, std::uint16_t id, const std::string& types,
              const std::map<int, std::uint16_t>& values) {
    put(node, address, id);
    put(node, static_cast<std::uint16_t>(address + 1), static_cast<std::uint16_t>(types.size()));
    for (std::size_t i = 0; i < types.size(); ++i) {
        const auto found = values.find(static_cast<int>(i + 2));
        put(node, static_cast<std::uint16_t>(address + 2 + i),
            found != values.end() ? found->second : notImplemented(types[i]));
    }
}

// A string point of `registers` registers at `offset`, two characters each.
void putText(std::map<int, std::uint16_t>& values, int offset, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const auto low = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        values[offset + static_cast<int>(i / 2)] =
            static_cast<std::uint16_t>(static_cast<unsigned char>(text[i]) << 8 | low);
    }
}

std::uint16_t word(int value) { return static_cast<std::uint16_t>(value & 0xFFFF); }

void putCommon(NodeMap& node, const std::string& model, const std::string& serial) {
    std::map<int, std::uint16_t> values;
    putText(values, 2, "Tarvel Sim");
    putText(values, 18, model);
    putText(values, 42, "1.0.3");
    putText(values, 50, serial);
    values[66] = 1;  // DA
    put(node, 40000, 0x5375);
    put(node, 40001, 0x6E53);
    putModel(node, 40002, 1, Common, values);
}

}  // namespace

bool AddSunSpecDevice(const std::string& kind, NodeMap& node) {
    if (kind == "inverter") {
        putCommon(node, "SIM-INV-103", "INV-0001");
        // 12.34 A (3 phases), 230.1 V, power live, 50.02 Hz, 12345678 Wh,
        // 41.2 degrees, state 4 (producing), events 0.
        putModel(node, 40069, 103, Inverter,
                 {{2, 1234}, {3, 412}, {4, 411}, {5, 411}, {6, word(-2)}, {10, 2301}, {11, 2299},
                  {12, 2302}, {13, word(-1)}, {14, 0}, {15, 0}, {16, 5002}, {17, word(-2)},
                  {24, 0x00BC}, {25, 0x614E}, {26, 0}, {33, 412}, {37, word(-1)}, {38, 4},
                  {40, 0}, {41, 0}});
        node.live.push_back({Table::Holding, 40083, LiveKind::Power, 0, 0});
        node.peakPower = 4500;
        // Type 4 (PV), 5000 W rated.
        putModel(node, 40121, 120, Nameplate, {{2, 4}, {3, 5000}, {4, 0}});
        put(node, 40149, 0xFFFF);
        put(node, 40150, 0);
        return true;
    }
    if (kind == "meter") {
        putCommon(node, "SIM-MTR-203", "MTR-0001");
        // 5.5 A, 231.5 V, 49.98 Hz, -1234 W (exported), 98765 Wh imported,
        // 4321 Wh exported.
        putModel(node, 40069, 203, Meter,
                 {{2, 550}, {6, word(-2)}, {7, 2315}, {15, word(-1)}, {16, 4998},
                  {17, word(-2)}, {18, word(-1234)}, {22, 0}, {38, 0}, {39, 4321}, {46, 1},
                  {47, 0x81CD}, {54, 0}});
        put(node, 40176, 0xFFFF);
        put(node, 40177, 0);
        return true;
    }
    return false;
}

Bytes DeviceIdAnswer(const std::vector<std::string>& identity, const Bytes& pdu,
                     std::uint8_t& code) {
    code = 0;
    if (identity.empty()) code = 1;  // not a function this device knows
    else if (pdu.size() != 4 || pdu[1] != 0x0E || pdu[2] < 1 || pdu[2] > 4) code = 3;
    else if (pdu[3] >= identity.size()) code = 2;
    if (code != 0) return {};
    // Basic (1) or one object at a time (4): from the object asked for.
    Bytes answer{0x2B, 0x0E, pdu[2], 0x01, 0x00, 0x00, 0x00};
    std::uint8_t objects = 0;
    for (std::size_t id = pdu[3]; id < identity.size() && (pdu[2] == 1 || objects == 0); ++id) {
        answer.push_back(static_cast<std::uint8_t>(id));
        answer.push_back(static_cast<std::uint8_t>(identity[id].size()));
        answer.insert(answer.end(), identity[id].begin(), identity[id].end());
        ++objects;
    }
    answer[6] = objects;
    return answer;
}

}  // namespace tarvel::sim
