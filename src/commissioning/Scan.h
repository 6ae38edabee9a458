#pragma once
// Finding the devices on a line: one short request to each node of a
// range (a read of the two registers where a SunSpec map starts); any
// checked answer, an exception too, means a device. For each device: its
// SunSpec map when it has one, its device identification when it answers
// it, and the request lines that read it, as an INI fragment to paste into
// the request list. A silent node costs its time-out and nothing more.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "commissioning/SunSpec.h"
#include "commissioning/Templates.h"
#include "modbus/MBus.h"

namespace tarvel {

struct ScannedDevice {
    std::uint8_t node = 0;
    // The probe's answer: registers, or an exception with its code.
    std::optional<std::uint8_t> exceptionCode;
    std::map<std::uint8_t, std::string> identity;  // objects 0 to 2
    std::optional<std::uint16_t> sunSpecAt;          // the marker's register
    std::vector<ModelFound> models;
    std::vector<PointLine> points;  // from the known models
    const DeviceTemplate* matched = nullptr;
};

// What the scan tells after each node it asked.
struct ScanProgress {
    int node = 0;
    int asked = 0;  // nodes asked so far, this one included
    int total = 0;
    std::string text;  // one line, Italian
};

class Scanner {
  public:
    using Observer = std::function<void(const ScanProgress&)>;
    // `stop` is looked at before each node; MBus::Interrupt ends the
    // running wait too.
    Scanner(MBus& mbus, const std::atomic<bool>& stop, Observer observer,
            const std::vector<DeviceTemplate>* templates = nullptr);

    // The devices among nodes first to last (1 to 247).
    std::vector<ScannedDevice> Run(int first, int last);

  private:
    Transaction ask(const std::function<Transaction()>& exchange);
    std::optional<std::vector<std::uint16_t>> readRegisters(std::uint8_t node,
                                                             std::uint16_t address,
                                                             std::uint16_t count);
    void readSunSpec(ScannedDevice& device, const Transaction& probe);
    void identify(ScannedDevice& device);
    std::string describe(const ScannedDevice& device) const;

    MBus& mbus_;
    const std::atomic<bool>& stop_;
    Observer observer_;
    const std::vector<DeviceTemplate>* templates_;
};

// The fragment: a [Parameters] section with Firt and Last, a comment per
// device, its numbered lines, one NEXT between devices that have lines.
std::string FragmentText(const std::vector<ScannedDevice>& devices, const std::string& header);

// The request lines that read the device: its template's, else one per
// SunSpec point with a value; none for a device known by neither.
std::vector<std::string> DeviceLines(const ScannedDevice& device);

// The device's comment: node, identification, SunSpec models, template.
std::string DeviceComment(const ScannedDevice& device);

}  // namespace tarvel
