#include "commissioning/Scan.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "commissioning/DeviceIdentity.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

constexpr std::uint16_t ProbeRegister = 40000;
// Identification answers that go on: at most this many more are asked.
constexpr int MostIdentityAnswers = 3;

// An answer that came but did not check: asking again may get it whole.
bool garbled(TransactionResult r) {
    return r == TransactionResult::CrcError || r == TransactionResult::Partial ||
           r == TransactionResult::WrongAnswer;
}

bool answered(const Transaction& t) {
    return t.ok() || t.outcome == TransactionResult::Exception;
}

std::string modelsText(const ScannedDevice& d) {
    std::string text;
    for (const auto& m : d.models) {
        const SunSpecModel* known = FindModel(m.id);
        text += (text.empty() ? "" : ", ") + std::to_string(m.id) +
                (known ? std::string(" ") + known->name : std::string(" (sconosciuto)"));
    }
    return text;
}

// "name", or "name_2", "name_3"... when the device has it already.
std::string uniqueName(const std::string& name, std::set<std::string>& used) {
    std::string candidate = name;
    for (int n = 2; !used.insert(candidate).second; ++n) candidate = name + "_" + std::to_string(n);
    return candidate;
}

}  // namespace

Scanner::Scanner(MBus& mbus, const std::atomic<bool>& stop, Observer observer,
                 const std::vector<DeviceTemplate>* templates)
    : mbus_(mbus), stop_(stop), observer_(std::move(observer)), templates_(templates) {}

Transaction Scanner::ask(const std::function<Transaction()>& exchange) {
    Transaction t = exchange();
    for (int attempt = 1; attempt < mbus_.LeggiRetry() && garbled(t.outcome); ++attempt)
        t = exchange();
    return t;
}

std::optional<std::vector<std::uint16_t>> Scanner::readRegisters(std::uint8_t node,
                                                                 std::uint16_t address,
                                                                 std::uint16_t count) {
    std::vector<std::uint16_t> registers;
    for (std::uint32_t at = address; at < std::uint32_t{address} + count;) {
        const auto n = static_cast<std::uint16_t>(
            std::min<std::uint32_t>(MaxBlockRegisters, std::uint32_t{address} + count - at));
        const Transaction t =
            ask([&] { return mbus_.EseguiTransazione(node, 3, static_cast<std::uint16_t>(at), n); });
        if (!t.ok()) return std::nullopt;
        registers.insert(registers.end(), t.registers.begin(), t.registers.end());
        at += n;
    }
    return registers;
}

void Scanner::readSunSpec(ScannedDevice& device, const Transaction& probe) {
    const RegisterReader read = [&](std::uint16_t address, std::uint16_t count) {
        return readRegisters(device.node, address, count);
    };
    device.sunSpecAt = FindMarker(read, probe.ok() ? std::optional(probe.registers) : std::nullopt);
    if (!device.sunSpecAt) return;
    device.models = WalkModels(read, static_cast<std::uint16_t>(*device.sunSpecAt + 2));
    for (const auto& found : device.models) {
        const SunSpecModel* model = FindModel(found.id);
        if (!model || stop_) continue;
        if (const auto registers = read(found.address, static_cast<std::uint16_t>(found.length + 2))) {
            auto lines = ModelLines(*model, found, *registers);
            device.points.insert(device.points.end(), lines.begin(), lines.end());
        }
    }
}

void Scanner::identify(ScannedDevice& device) {
    std::uint8_t next = 0;
    for (int answer = 0; answer <= MostIdentityAnswers && !stop_; ++answer) {
        const Transaction t = ask([&] { return mbus_.ReadDeviceId(device.node, next); });
        const auto parsed = t.ok() ? ParseDeviceId(t.bits) : std::nullopt;
        if (!parsed) return;
        for (const auto& [id, text] : parsed->objects)
            if (id <= 2) device.identity[id] = text;
        // Goes on only forward, within the basic objects.
        if (!parsed->moreFollows || parsed->nextObject <= next || parsed->nextObject > 2) return;
        next = parsed->nextObject;
    }
}

std::vector<ScannedDevice> Scanner::Run(int first, int last) {
    std::vector<ScannedDevice> devices;
    mbus_.NewCycle();
    const int total = std::max(0, last - first + 1);
    for (int node = first, asked = 1; node <= last && !stop_; ++node, ++asked) {
        const auto n = static_cast<std::uint8_t>(node);
        const Transaction probe =
            ask([&] { return mbus_.EseguiTransazione(n, 3, ProbeRegister, 2); });
        std::string text = "nodo " + std::to_string(node) + ": ";
        if (!answered(probe)) {
            text += std::string(Trim(ResultText(probe.outcome)));
        } else {
            ScannedDevice device;
            device.node = n;
            if (!probe.ok()) device.exceptionCode = probe.exceptionCode;
            readSunSpec(device, probe);
            identify(device);
            if (templates_) device.matched = MatchTemplate(*templates_, device.identity);
            text += describe(device);
            devices.push_back(std::move(device));
        }
        if (observer_) observer_({node, asked, total, text});
    }
    return devices;
}

std::string Scanner::describe(const ScannedDevice& d) const {
    std::string text = "dispositivo";
    if (d.exceptionCode) text += " (eccezione " + std::to_string(*d.exceptionCode) + ")";
    for (const auto& [id, value] : d.identity) text += (id == 0 ? ", " : " ") + value;
    if (!d.models.empty()) text += ", SunSpec " + modelsText(d);
    return text;
}

std::vector<std::string> DeviceLines(const ScannedDevice& d) {
    if (d.matched) return TemplateLines(*d.matched, d.node);
    std::vector<std::string> lines;
    std::set<std::string> used;
    for (const auto& p : d.points) {
        const std::string name = uniqueName(p.name, used);
        const std::string unit = p.unit.empty() ? "" : ";" + p.unit;
        if (p.constant)
            lines.push_back("0,0," + *p.constant + ",0;" + name + unit);
        else
            lines.push_back(std::to_string(d.node) + ",3," + p.registerField + "," + p.decimals +
                            ";" + name + unit);
    }
    return lines;
}

std::string DeviceComment(const ScannedDevice& d) {
    std::string text = "nodo " + std::to_string(d.node) + ":";
    std::string identity;
    for (const auto& [id, value] : d.identity) identity += (identity.empty() ? "" : " ") + value;
    text += identity.empty() ? " identificazione non disponibile" : " " + identity;
    if (d.sunSpecAt)
        text += "; SunSpec a " + std::to_string(*d.sunSpecAt) + ": " + modelsText(d);
    else
        text += "; nessuna mappa SunSpec";
    if (d.matched) text += "; modello " + d.matched->name + " (" + d.matched->source + ")";
    return text;
}

std::string FragmentText(const std::vector<ScannedDevice>& devices, const std::string& header) {
    std::string body;
    int number = 0;
    const auto add = [&](const std::string& line) {
        char key[16];
        std::snprintf(key, sizeof key, "%03d=", ++number);
        body += key + line + "\n";
    };
    for (const auto& d : devices) {
        const std::vector<std::string> own = DeviceLines(d);
        if (!own.empty() && number > 0) add("NEXT");
        body += "; " + DeviceComment(d) + "\n";
        if (own.empty()) body += "; (nessuna riga: --decode o --template per leggerlo)\n";
        for (const auto& line : own) add(line);
    }
    return "; " + header + "\n[Parameters]\nFirt=1\nLast=" + std::to_string(number) + "\n" + body;
}

}  // namespace tarvel
