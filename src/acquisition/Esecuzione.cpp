#include "acquisition/Esecuzione.h"

#include <algorithm>
#include <cmath>

#include "acquisition/TestoValore.h"

namespace tarvel {
namespace {

// The items a read line asks for: one, or the two of a 32-bit value.
struct Indirizzi {
    std::uint32_t primo = 0;
    std::uint32_t secondo = 0;
    bool due = false;
};

Indirizzi IndirizziDi(const ParametriLettura& p) {
    const std::uint16_t primo = p.registro;
    if (!p.trentaDueBit) return {primo, primo, false};
    return {primo, p.bassoSuccessivo ? primo + 1u : primo - 1u, true};
}

// The window of a block being grouped: the items asked for, inside at most
// `massimo` items with no run of more than `lacuna` items nobody asks for.
class Finestra {
  public:
    Finestra(int massimo, int lacuna) : massimo_(massimo), lacuna_(lacuna) {}

    // Takes the line's items in when the window still holds; false (and
    // nothing changes) otherwise. A 32-bit pair that would wrap around the
    // address space never joins.
    bool aggiungi(const Indirizzi& a) {
        if (a.secondo > 0xFFFF) return false;
        std::vector<std::uint32_t> chiesti = chiesti_;
        chiesti.push_back(a.primo);
        if (a.due) chiesti.push_back(a.secondo);
        std::sort(chiesti.begin(), chiesti.end());
        chiesti.erase(std::unique(chiesti.begin(), chiesti.end()), chiesti.end());
        if (chiesti.back() - chiesti.front() + 1 > static_cast<std::uint32_t>(massimo_))
            return false;
        for (std::size_t i = 1; i < chiesti.size(); ++i)
            if (chiesti[i] - chiesti[i - 1] - 1 > static_cast<std::uint32_t>(lacuna_)) return false;
        chiesti_ = std::move(chiesti);
        return true;
    }
    std::uint16_t inizio() const { return static_cast<std::uint16_t>(chiesti_.front()); }
    std::uint16_t quantita() const {
        return static_cast<std::uint16_t>(chiesti_.back() - chiesti_.front() + 1);
    }

  private:
    int massimo_;
    int lacuna_;
    std::vector<std::uint32_t> chiesti_;
};

// What a read line's element holds when the read was never made.
const char* const NonLetto = "-99999";

std::string elemento(const std::string& nome, const std::string& testo) {
    return "<" + nome + ">" + testo + "</" + nome + ">";
}

}  // namespace

Esecuzione::Esecuzione(MBus& mbus, Clock& clock, Contesto& contesto)
    : mbus_(mbus), clock_(clock), contesto_(contesto) {}

void Esecuzione::mostraRisultato(const std::string& risultato) {
    contesto_.mostraRisultato(risultato);
    clock_.processEvents();
}

void Esecuzione::NuovoCiclo() {
    falliteDiFila_.fill(0);
    blocco_.reset();
    serviteDalBlocco_.clear();
    daSole_.clear();
}

Risposta Esecuzione::Esegui(const Riga& riga) { return esegui(riga, nullptr, 0); }

Risposta Esecuzione::Esegui(const std::vector<Riga>& righe, std::size_t indice) {
    return esegui(righe[indice], &righe, indice);
}

Risposta Esecuzione::esegui(const Riga& riga, const std::vector<Riga>* righe, std::size_t indice) {
    mostraRisultato("");
    Risposta risposta;
    switch (riga.tipo) {
        case TipoRiga::Seriale: {
            const bool ok = contesto_.applicaProfilo(riga.profilo);
            if (!ok) contesto_.MenuFerma_Click();
            risposta.testo = "Serial_" + (ok ? riga.campi.Codice : std::string("_0"));
            break;
        }
        case TipoRiga::Attesa:
            risposta.testo = eseguiAttesa(riga);
            break;
        case TipoRiga::Prossimo:
            risposta.testo = "%Next device";
            break;
        case TipoRiga::Vuota:
            risposta.testo = "#Empty line";
            break;
        case TipoRiga::NonValida:
            risposta.testo = "#Invalid line";
            break;
        case TipoRiga::Lettura:
        case TipoRiga::Costante:
            risposta = eseguiLettura(riga, righe, indice);
            break;
    }
    mostraRisultato(risposta.testo);
    return risposta;
}

std::string Esecuzione::eseguiAttesa(const Riga& riga) {
    std::string testo = "#Sleep " + riga.campi.Codice;
    if (contesto_.acquisizioneAttiva()) contesto_.ImpostaLampada(Lampada::Giallo);
    mostraRisultato(testo);
    clock_.sleep(riga.attesa);
    if (contesto_.acquisizioneAttiva()) contesto_.ImpostaLampada(Lampada::Verde);
    return testo;
}

Risposta Esecuzione::eseguiLettura(const Riga& riga, const std::vector<Riga>* righe,
                                   std::size_t indice) {
    const Chiamata& c = riga.campiEseguiti;
    contesto_.mostraCampi(c);
    if (riga.tipo == TipoRiga::Costante) return {elemento(c.Descrizione, c.Registro), false};
    if (!riga.lettura) return {elemento(c.Descrizione, NonLetto), true};
    const ParametriLettura& p = *riga.lettura;
    // A node beyond one byte would go on the line as another node.
    if (p.nodo < 0 || p.nodo > 255) return {elemento(c.Descrizione, ""), true};
    int& fallite = falliteDiFila_[static_cast<std::uint8_t>(p.nodo)];
    const int salta = contesto_.profiloInUso().saltaDopo;
    if (salta > 0 && fallite >= salta) {
        mbus_.RegistraSaltata(static_cast<std::uint8_t>(p.nodo));
        return {elemento(c.Descrizione, ""), true};
    }
    std::optional<double> valore = leggi(p, righe, indice);
    fallite = valore ? 0 : fallite + 1;
    // The device answered, but the decimals leave no finite number.
    if (valore && !std::isfinite(*valore)) valore.reset();
    return {elemento(c.Descrizione, valore ? TestoValore(*valore) : std::string()), !valore};
}

std::optional<double> Esecuzione::leggi(const ParametriLettura& p, const std::vector<Riga>* righe,
                                        std::size_t indice) {
    auto serve = [](const std::vector<std::size_t>& elenco, std::size_t i) {
        return std::find(elenco.begin(), elenco.end(), i) != elenco.end();
    };
    if (righe && !serve(serviteDalBlocco_, indice) && !serve(daSole_, indice))
        preparaBlocco(*righe, indice);
    if (blocco_ && serve(serviteDalBlocco_, indice)) {
        clock_.processEvents();
        const Indirizzi a = IndirizziDi(p);
        const std::optional<std::string> primo = TestoElemento(*blocco_, a.primo);
        if (!p.trentaDueBit) return Valore16(*primo, p.decimali, p.senzaSegno);
        return Valore32(*primo, *TestoElemento(*blocco_, a.secondo), p.decimali, p.senzaSegno);
    }
    if (p.trentaDueBit)
        return mbus_.LeggiValore32(p.funzione, static_cast<std::int16_t>(p.registro), p.nodo,
                                   p.decimali, p.bassoSuccessivo, p.senzaSegno);
    return mbus_.LeggiValore16(p.funzione, static_cast<std::int16_t>(p.registro), p.nodo,
                               p.decimali, p.senzaSegno);
}

// The group of the read line at `indice`: the read lines after it of the
// same node and function whose items, with it, fit one window of at most
// Block items with no run of more than Gap items that no line asks for.
// Next-device and constant lines may stand between them; any other line
// ends the group. A group of two items or more (a 32-bit line alone is
// one) is read with one request; when that fails, its lines read on their
// own.
void Esecuzione::preparaBlocco(const std::vector<Riga>& righe, std::size_t indice) {
    const ProfiloSeriale& profilo = contesto_.profiloInUso();
    const ParametriLettura& p = *righe[indice].lettura;
    if (profilo.blocco == 0 || p.funzione < 1 || p.funzione > 4) return;
    const int massimo =
        p.funzione <= 2 ? profilo.blocco : std::min(profilo.blocco, MassimoBloccoRegistri);
    Finestra finestra(massimo, profilo.lacuna);
    std::vector<std::size_t> gruppo;
    for (std::size_t i = indice; i < righe.size(); ++i) {
        const Riga& r = righe[i];
        if (r.tipo == TipoRiga::Prossimo || r.tipo == TipoRiga::Costante) continue;
        if (r.tipo != TipoRiga::Lettura || !r.lettura || r.lettura->nodo != p.nodo ||
            r.lettura->funzione != p.funzione || !finestra.aggiungi(IndirizziDi(*r.lettura)))
            break;
        gruppo.push_back(i);
    }
    if (gruppo.empty() || finestra.quantita() < 2) return;
    blocco_ = mbus_.LeggiBlocco(static_cast<std::uint8_t>(p.funzione), finestra.inizio(),
                                finestra.quantita(), static_cast<std::uint8_t>(p.nodo));
    (blocco_ ? serviteDalBlocco_ : daSole_) = std::move(gruppo);
}

}  // namespace tarvel
