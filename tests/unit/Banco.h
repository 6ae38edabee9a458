#pragma once
// The core on fakes: settings in memory, a scripted device on a fake port,
// and virtual time.

#include <initializer_list>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "app/Programma.h"

namespace tarvel::test {

// Records what the view was told.
struct ViewSpy : MainView {
    std::vector<RapportoCiclo> cicli;
    std::vector<Lampada> lampade;
    const MainState* stato = nullptr;
    int splashNascosto = 0;
    int ricaricate = 0;
    std::vector<bool> tray;
    void lampadaCambiata() override { lampade.push_back(stato->lampada); }
    void cicloTerminato(const RapportoCiclo& r) override { cicli.push_back(r); }
    void nascondiSplash() override { ++splashNascosto; }
    void impostazioniRicaricate() override { ++ricaricate; }
    void riduciInTray(bool riduci) override { tray.push_back(riduci); }
};

struct Banco {
    fakes::FakePlatform fp;
    fakes::ScriptedDevice device;
    Programma prog{fp.piattaforma()};
    ViewSpy view;

    Banco() {
        view.stato = &prog.stato();
        prog.setView(&view);
        fp.port.setDevice([this](const Bytes& request) { return device(request); });
    }

    // "Section/Key" = value pairs.
    void ini(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [path, value] : values) {
            std::string p(path);
            auto slash = p.find('/');
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
    void profilo(int n, const char* extra_key = nullptr, const char* extra_value = nullptr) {
        std::string s = "Serial_" + std::to_string(n);
        fp.ini.set(s, "COM", "1");
        fp.ini.set(s, "Settings", "9600,N,8,1");
        if (extra_key) fp.ini.set(s, extra_key, extra_value);
    }
    // Executes one line as the button does.
    std::string esegui(const std::string& riga) {
        richieste({riga});
        prog.CaricaParametri();
        prog.SelezionaChiamata(0);
        prog.Cmd_Leggi_Click();
        return prog.stato().risultato;
    }
    const std::string& file(const std::string& path) { return fp.files.files[path]; }
};

}  // namespace tarvel::test
