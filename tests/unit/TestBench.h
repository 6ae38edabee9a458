#pragma once
// The core on the fakes: the plant, the program over it, and a view that
// records what it was told.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Plant.h"
#include "app/Program.h"

namespace tarvel::test {

// Bytes written as hexadecimal pairs: "01 03 02".
inline Bytes FromHex(const std::string& text) {
    std::istringstream in(text);
    Bytes bytes;
    for (unsigned value = 0; in >> std::hex >> value;)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

// A whole output file: one device for each list of elements.
inline std::string Documento(const std::vector<std::vector<std::string>>& devices,
                             const std::string& encoding = "UTF-8") {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n  <Dispositivi>\r\n";
    for (const auto& addresses : devices) {
        text += "\r\n    <Dispositivo>\r\n";
        for (const auto& e : addresses) text += "      " + e + "\r\n";
        text += "    </Dispositivo>\r\n";
    }
    return text + "\r\n  </Dispositivi>\r\n";
}

struct ViewSpy : MainView {
    std::vector<CycleReport> cycles;
    int ricaricate = 0;
    void cycleFinished(const CycleReport& r) override { cycles.push_back(r); }
    void settingsReloaded() override { ++ricaricate; }
};

struct Banco : fakes::Impianto {
    Program prog{fp.platform()};
    ViewSpy view;

    Banco() { prog.setView(&view); }
};

// The cycle alone over the fake port: its execution and the serial line on
// profile 0 (with the keys given), no program around them, and an interval
// no test waits for; the observer keeps what the window would show.
struct CycleBench : fakes::Impianto, CycleObserver {
    using Keys = std::vector<std::pair<std::string, std::string>>;
    std::vector<RequestLine> lines;
    std::vector<std::string> answers;
    std::string result;
    std::vector<Lamp> lampade;
    std::vector<CycleReport> cycles;
    IniReader read = std::bind_front(&fakes::FakeProfileStore::read, &fp.ini, std::string());
    MBus mbus{fp.port, fp.clock};
    SerialLine linea{mbus, fp.clock, fp.dialogs, read, *this};
    Cycle cycle{fp.clock, linea, lines, *this, {fp.files, "/opt/tarvel"}, read};

    explicit CycleBench(const std::vector<std::string>& texts, const Keys& keyList = {}) {
        profile(0);
        for (const auto& [key, value] : keyList) fp.ini.set("Serial_0", key, value);
        for (const std::string& t : texts) lines.push_back(LoadLine(t));
        device.delay = Millis(0);
        cycle.setInterval(Millis(60000));
        EXPECT_TRUE(linea.ImpostaPortaSeriale(0));
    }
    // Executes one line as the button does; its answer.
    std::string run(const std::string& line) {
        lines = {LoadLine(line)};
        cycle.Cmd_Leggi_Click(0);
        return result;
    }
    // Runs one cycle; its duration.
    Millis ciclo() {
        const Millis start = fp.clock.elapsed();
        cycle.acquisizioneAttiva() ? cycle.TmrLettura_Timer() : cycle.MenuAvvio_Click();
        return fp.clock.elapsed() - start;
    }
    void answersCleared() override { answers.clear(); }
    void answerAdded(const Risposta& r) override { answers.push_back(AnswerText(r)); }
    void resultShown(const Risposta& r) override { result = AnswerText(r); }
    void lampChanged(Lamp l) override { lampade.push_back(l); }
    void cycleEnded(const CycleReport& r) override { cycles.push_back(r); }
};

}  // namespace tarvel::test
