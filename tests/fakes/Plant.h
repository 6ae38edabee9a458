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
    void requests(const std::vector<std::string>& lines, const char* interval = "1000") {
        fp.ini.set("Parameters", "Firt", "1");
        fp.ini.set("Parameters", "Last", std::to_string(lines.size()));
        fp.ini.set("Parameters", "Interval", interval);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            char key[24];
            std::snprintf(key, sizeof key, "%03zu", i + 1);
            fp.ini.set("Parameters", key, lines[i]);
        }
    }
    // Profile n on COM 1 at 9600,N,8,1, with one more key if given.
    void profile(int n, const char* key = nullptr, const char* value = nullptr) {
        const std::string s = "Serial_" + std::to_string(n);
        fp.ini.set(s, "COM", "1");
        fp.ini.set(s, "Settings", "9600,N,8,1");
        if (key) fp.ini.set(s, key, value);
    }
    // The desktop's plant: two request lines on profile 0, both answered.
    void dueRighe() {
        requests({"1,3,0,0;Valore", "1,4,1,1;Tensione"});
        profile(0);
        device.values[{3, 0}] = 42;
        device.values[{4, 1}] = 2301;
    }
    const std::string& file(const std::string& path) { return fp.files.files[path]; }
    std::vector<std::string> testiMessaggi() const {
        std::vector<std::string> texts;
        for (const auto& m : fp.dialogs.messages) texts.push_back(m.text);
        return texts;
    }
};

}  // namespace tarvel::fakes
