#pragma once
// A small plant for the desktop tests: settings with two request lines on
// profile 0, and one device that answers them.

#include <string>
#include <vector>

#include "FakePlatform.h"

namespace tarvel::fakes {

struct Impianto {
    FakePlatform piattaforma;
    ScriptedDevice dispositivo;

    Impianto() {
        FakeProfileStore& ini = piattaforma.ini;
        ini.set("Parameters", "Firt", "1");
        ini.set("Parameters", "Last", "2");
        ini.set("Parameters", "Interval", "1000");
        ini.set("Parameters", "001", "1,3,0,0;Valore");
        ini.set("Parameters", "002", "1,4,1,1;Tensione");
        ini.set("Serial_0", "COM", "1");
        ini.set("Serial_0", "Settings", "9600,N,8,1");
        dispositivo.values[{3, 0}] = 42;
        dispositivo.values[{4, 1}] = 2301;
        piattaforma.port.setDevice(
            [this](const Bytes& richiesta) { return dispositivo(richiesta); });
    }

    std::vector<std::string> testiMessaggi() const {
        std::vector<std::string> testi;
        for (const auto& m : piattaforma.dialogs.messages) testi.push_back(m.text);
        return testi;
    }
};

}  // namespace tarvel::fakes
