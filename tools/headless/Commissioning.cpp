#include "Commissioning.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#include "acquisition/SerialLine.h"
#include "commissioning/Decode.h"
#include "commissioning/Scan.h"
#include "commissioning/Templates.h"
#include "modbus/ComPorts.h"
#include "modbus/Health.h"
#include "platform/posix/PosixSerialPort.h"
#include "platform/posix/SignalPipe.h"

namespace tarvel {
namespace {

// Profile 0 applied to a port of its own, stopped by SIGINT and SIGTERM.
class OpenLine {
  public:
    explicit OpenLine(const LineAccess& a)
        : access_(a),
          port_(ComDeviceFromSettings(a.ini, a.iniPath, DefaultComDevice)),
          mbus_(port_, a.clock),
          line_(mbus_, a.clock, a.dialogs,
                [&a](const std::string& s, const std::string& k, const std::string& d) {
                    return a.ini.read(a.iniPath, s, k, d);
                },
                observer_) {
        if (SignalPipe::Install({SIGTERM, SIGINT}))
            port_.watchAlso(SignalPipe::fd(), [this] {
                while (SignalPipe::Next()) {
                }
                stop_ = true;
                mbus_.Interrupt();
            });
        if (a.monitor) {
            mbus_.ImpostaMonitorAttivo(true);
            mbus_.onMonitorChanged([this] { printMonitor(); });
        }
    }
    ~OpenLine() {
        line_.close();
        port_.watchAlso(-1, {});
        SignalPipe::Remove();
    }
    bool open() { return line_.ImpostaPortaSeriale(0); }
    MBus& mbus() { return mbus_; }
    const std::atomic<bool>& stop() const { return stop_; }
    std::string describe() const {
        const std::string network = mbus_.NetworkText();
        return "Serial_0 (" + (network.empty() ? "COM" + mbus_.LeggiCommPort() : network) + " " +
               mbus_.LeggiSettings() + ", time-out " + std::to_string(mbus_.LeggiTimeOut()) +
               " ms)";
    }
    void printStats() const {
        if (!access_.stats) return;
        for (const auto& [node, health] : mbus_.health().nodes()) {
            std::string text = "stats";
            for (const auto& field : HealthFields(node, health)) text += '\t' + field;
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }

  private:
    void printMonitor() {
        const MonitorLog& log = mbus_.monitor();
        for (; tx_ < log.requests().size(); ++tx_)
            std::fprintf(stderr, "TX %s\n", log.requests()[tx_].c_str());
        for (; rx_ < log.answers().size(); ++rx_)
            std::fprintf(stderr, "RX %s\n", log.answers()[rx_].c_str());
    }

    const LineAccess& access_;
    CycleObserver observer_;
    PosixSerialPort port_;
    MBus mbus_;
    SerialLine line_;
    std::atomic<bool> stop_ = false;
    std::size_t tx_ = 0, rx_ = 0;
};

std::vector<DeviceTemplate> templatesOf(const std::string& folder) {
    std::vector<std::string> errors;
    std::vector<DeviceTemplate> templates = LoadTemplates(folder, errors);
    for (const auto& e : errors) std::fprintf(stderr, "Modello non valido: %s\n", e.c_str());
    return templates;
}

}  // namespace

int ScanLine(const LineAccess& access, int first, int last, const std::string& templateFolder) {
    const std::vector<DeviceTemplate> templates = templatesOf(templateFolder);
    OpenLine line(access);
    if (!line.open()) return 3;
    Scanner scanner(line.mbus(), line.stop(), [](const ScanProgress& p) {
        std::fprintf(stderr, "%d/%d %s\n", p.asked, p.total, p.text.c_str());
    }, &templates);
    const std::vector<ScannedDevice> devices = scanner.Run(first, last);
    line.printStats();
    const std::string header = std::string(line.stop() ? "Ricerca interrotta" : "Ricerca") +
                               " su " + line.describe() + ", nodi " + std::to_string(first) +
                               "-" + std::to_string(last) + ": " +
                               std::to_string(devices.size()) + " dispositivi";
    const std::string text = FragmentText(devices, header);
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? (line.stop() ? 1 : 0) : 1;
}

int DecodeLine(const LineAccess& access, int node, int function, int address) {
    OpenLine line(access);
    if (!line.open()) return 3;
    const Transaction t = line.mbus().EseguiTransazione(
        static_cast<std::uint8_t>(node), static_cast<std::uint8_t>(function),
        static_cast<std::uint16_t>(address), 4);
    line.printStats();
    if (!t.ok()) {
        std::fprintf(stderr, "Lettura fallita: nodo %d, funzione %d, registro %d: %s", node,
                     function, address, ResultText(t.outcome));
        if (t.outcome == TransactionResult::Exception)
            std::fprintf(stderr, " %d", t.exceptionCode);
        std::fprintf(stderr, "\n");
        return 1;
    }
    std::printf("; nodo %d, funzione %d, registri %d-%d:", node, function, address, address + 3);
    for (const std::uint16_t r : t.registers) std::printf(" %04X", r);
    std::printf("\n");
    for (const auto& d : DecodeRegisters(static_cast<std::uint16_t>(address), t.registers))
        std::printf("%d,%d,%s\t%s\t%s\n", node, function, d.registerField.c_str(), d.kind.c_str(),
                    d.value.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int ListTemplates(const std::string& folder) {
    const std::vector<DeviceTemplate> templates = templatesOf(folder);
    if (templates.empty()) {
        std::fprintf(stderr, "Nessun modello in %s\n", folder.c_str());
        return 2;
    }
    for (const auto& t : templates)
        std::printf("%s\t%s\t%s\n", t.name.c_str(), t.description.c_str(), t.source.c_str());
    return 0;
}

int PrintTemplate(const std::string& folder, const std::string& name, int node) {
    for (const auto& t : templatesOf(folder)) {
        if (t.name != name) continue;
        std::printf("; %s, nodo %d\n; fonte: %s\n", t.description.c_str(), node, t.source.c_str());
        int number = 0;
        for (const auto& line : TemplateLines(t, node)) std::printf("%03d=%s\n", ++number, line.c_str());
        return 0;
    }
    std::fprintf(stderr, "Modello sconosciuto: %s (--templates li elenca)\n", name.c_str());
    return 2;
}

}  // namespace tarvel
