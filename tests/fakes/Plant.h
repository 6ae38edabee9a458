#pragma once
// A plant on the fakes: one scripted device on the fake port, and helpers
// that write the settings it is polled with.

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "FakePlatform.h"

namespace tarvel::fakes {

struct Impianto {
    FakePlatform fp;
    ScriptedDevice device;

    Impianto() {
        fp.port.setDevice([this](const Bytes& request) { return device(request); });
    }

    // "Section/Key" = value pairs.
    void ini(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [path, value] : values) {
            const std::string p(path);
            const auto slash = p.find('/');
            fp.ini.set(p.substr(0, slash), p.substr(slash + 1), value);
        }
    }
    // A request list in "Parameters", lines 001.. in order.
    void richieste(const std::vector<std::string>& righe, const char* intervallo = "1000") {
        fp.ini.set("Parameters", "Firt", "1");
        fp.ini.set("Parameters", "Last", std::to_string(righe.size()));
        fp.ini.set("Parameters", "Interval", intervallo);
        for (std::size_t i = 0; i < righe.size(); ++i) {
            char key[24];
            std::snprintf(key, sizeof key, "%03zu", i + 1);
            fp.ini.set("Parameters", key, righe[i]);
        }
    }
    // Profile n on COM 1 at 9600,N,8,1, with one more key if given.
    void profilo(int n, const char* chiave = nullptr, const char* valore = nullptr) {
        const std::string s = "Serial_" + std::to_string(n);
        fp.ini.set(s, "COM", "1");
        fp.ini.set(s, "Settings", "9600,N,8,1");
        if (chiave) fp.ini.set(s, chiave, valore);
    }
    // The desktop's plant: two request lines on profile 0, both answered.
    void dueRighe() {
        richieste({"1,3,0,0;Valore", "1,4,1,1;Tensione"});
        profilo(0);
        device.values[{3, 0}] = 42;
        device.values[{4, 1}] = 2301;
    }
    const std::string& file(const std::string& path) { return fp.files.files[path]; }
    std::vector<std::string> testiMessaggi() const {
        std::vector<std::string> testi;
        for (const auto& m : fp.dialogs.messages) testi.push_back(m.text);
        return testi;
    }
};

}  // namespace tarvel::fakes
