#pragma once
// The core on the fakes: the plant, the program over it, and a view that
// records what it was told.

#include <sstream>
#include <string>
#include <vector>

#include "Impianto.h"
#include "app/Programma.h"

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
inline std::string Documento(const std::vector<std::vector<std::string>>& dispositivi,
                             const std::string& encoding = "UTF-8") {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n  <Dispositivi>\r\n";
    for (const auto& elementi : dispositivi) {
        text += "\r\n    <Dispositivo>\r\n";
        for (const auto& e : elementi) text += "      " + e + "\r\n";
        text += "    </Dispositivo>\r\n";
    }
    return text + "\r\n  </Dispositivi>\r\n";
}

struct ViewSpy : MainView {
    std::vector<RapportoCiclo> cicli;
    std::vector<Lampada> lampade;
    const MainState* stato = nullptr;
    int ricaricate = 0;
    void lampadaCambiata() override { lampade.push_back(stato->lampada); }
    void cicloTerminato(const RapportoCiclo& r) override { cicli.push_back(r); }
    void nascondiSplash() override {}
    void impostazioniRicaricate() override { ++ricaricate; }
    void riduciInTray(bool) override {}
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
