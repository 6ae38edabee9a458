// SunSpec maps: any register contents (the input, two bytes a register,
// from address 0, the rest of the 65536 reading as failed reads) give a
// marker or none, a walk that ends, models within the address space, and
// lines whose registers and scale factors lie inside the model read.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "commissioning/SunSpec.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvel;
    // The input's registers are placed at 0 and repeated at 40000 and 50000.
    std::vector<std::uint16_t> input(size / 2);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
    int reads = 0;
    const RegisterReader read = [&](std::uint16_t address, std::uint16_t count)
        -> std::optional<std::vector<std::uint16_t>> {
        ++reads;
        const std::size_t base = address >= 50000 ? 50000 : address >= 40000 ? 40000 : 0;
        const std::size_t from = address - base;
        if (from + count > input.size()) return std::nullopt;
        return std::vector<std::uint16_t>(input.begin() + static_cast<std::ptrdiff_t>(from),
                                          input.begin() + static_cast<std::ptrdiff_t>(from + count));
    };
    const auto marker = FindMarker(read, std::nullopt);
    if (!marker) return 0;
    const std::vector<ModelFound> models = WalkModels(read, static_cast<std::uint16_t>(*marker + 2));
    require(reads <= 3 + 100);
    for (const ModelFound& m : models) {
        require(m.id != 0 && m.id != 0xFFFF && std::uint32_t{m.address} + 2 + m.length <= 0x10000);
        const SunSpecModel* known = FindModel(m.id);
        const auto registers = read(m.address, static_cast<std::uint16_t>(m.length + 2));
        if (!known || !registers) continue;
        for (const PointLine& line : ModelLines(*known, m, *registers)) {
            require(!line.name.empty());
            if (line.constant) {
                require(line.constant->find_first_of(",;&") == std::string::npos);
                continue;
            }
            const unsigned long at = std::strtoul(line.registerField.c_str(), nullptr, 10);
            require(at >= m.address && at < std::uint32_t{m.address} + registers->size());
            if (line.decimals != "0") {
                const unsigned long scale = std::strtoul(line.decimals.c_str() + 1, nullptr, 10);
                require(scale >= m.address && scale < std::uint32_t{m.address} + registers->size());
            }
        }
    }
    return 0;
}
