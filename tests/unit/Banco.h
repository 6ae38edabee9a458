#pragma once
// The core on the fakes: the plant, the program over it, and a view that
// records what it was told.

#include <string>
#include <vector>

#include "Impianto.h"
#include "app/Programma.h"

namespace tarvel::test {

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

struct Banco : fakes::Impianto {
    Programma prog{fp.piattaforma()};
    ViewSpy view;

    Banco() {
        view.stato = &prog.stato();
        prog.setView(&view);
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
