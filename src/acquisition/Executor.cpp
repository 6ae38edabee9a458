#include "acquisition/Executor.h"

#include <algorithm>
#include <cmath>

#include "export/EsportaXML.h"
#include "modbus/Value.h"

namespace tarvel {
namespace {

// The items a read line asks for, the most significant first. Those of a
// value that would run past either end of the address space come out
// beyond 0xFFFF.
std::vector<std::uint32_t> ElementiDi(const ReadParameters& p) {
    std::vector<std::uint32_t> elementi;
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(ParoleDi(p.formato.tipo)); ++i)
        elementi.push_back(p.bassoSuccessivo ? p.registro + i : p.registro - i);
    return elementi;
}

// Floats and 64-bit integers are read with one request for the whole value.
bool UnaRichiesta(ValueType tipo) {
    return tipo == ValueType::Float32 || tipo == ValueType::Float64 ||
           tipo == ValueType::Int64;
}

Executor::ScaleKey chiaveScala(const ReadParameters& p) {
    return {static_cast<std::uint8_t>(p.nodo), static_cast<std::uint8_t>(p.funzione),
            *p.registroScala};
}

// Such a value needs registers (functions 3 and 4), inside the address space.
bool Leggibile(const ReadParameters& p) {
    if (!UnaRichiesta(p.formato.tipo)) return true;
    const auto elementi = ElementiDi(p);
    return (p.funzione == 3 || p.funzione == 4) &&
           std::all_of(elementi.begin(), elementi.end(),
                       [](std::uint32_t a) { return a <= 0xFFFF; });
}

// The decimals a scale register holds: minus its signed contents; nothing
// for its "no value" pattern 0x8000. A coil or input has no sign.
std::optional<std::int16_t> DecimaliDaScala(std::uint16_t elemento, bool registro) {
    if (!registro) return static_cast<std::int16_t>(-elemento);
    if (elemento == 0x8000) return std::nullopt;
    return static_cast<std::int16_t>(-static_cast<std::int16_t>(elemento));
}

// What a failed read met; nothing when no request was sent.
std::optional<TransactionResult> EsitoDi(const Transaction& t) {
    if (t.sent.empty()) return std::nullopt;
    return t.outcome;
}

// The window of a block being grouped: the items asked for, inside at most
// `massimo` items with no run of more than `lacuna` items nobody asks for.
class Finestra {
  public:
    Finestra(int massimo, int lacuna) : massimo_(massimo), lacuna_(lacuna) {}

    // Takes the line's items in when the window still holds; false (and
    // nothing changes) otherwise. A value that would wrap around the
    // address space never joins.
    bool aggiungi(const std::vector<std::uint32_t>& elementi) {
        std::vector<std::uint32_t> chiesti = chiesti_;
        for (std::uint32_t a : elementi) {
            if (a > 0xFFFF) return false;
            chiesti.push_back(a);
        }
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

}  // namespace

Executor::Executor(SerialLine& linea, Clock& clock, CycleObserver& observer,
                       const std::atomic<bool>& acquiring)
    : mbus_(linea.mbus()),
      clock_(clock),
      contesto_(linea),
      observer_(observer),
      acquiring_(acquiring) {}

void Executor::mostraRisultato(const std::string& risultato) {
    observer_.resultShown(risultato);
}

void Executor::NuovoCiclo() {
    falliteDiFila_.fill(0);
    blocco_.reset();
    serviteDalBlocco_.clear();
    daSole_.clear();
    scale_.clear();
}

Risposta Executor::Esegui(const RequestLine& riga) { return esegui(riga, nullptr, 0); }

Risposta Executor::Esegui(const std::vector<RequestLine>& righe, std::size_t indice) {
    return esegui(righe[indice], &righe, indice);
}

Risposta Executor::esegui(const RequestLine& riga, const std::vector<RequestLine>* righe, std::size_t indice) {
    mostraRisultato("");
    Risposta risposta{riga.tipo, {}, std::nullopt};
    switch (riga.tipo) {
        case LineKind::Serial: {
            // A profile that cannot be applied stops the acquisition: the
            // cycle sees it refused.
            const bool ok = contesto_.applyLine(riga.profilo, riga.testo);
            risposta.testo = "Serial_" + (ok ? riga.campi.Codice : std::string("_0"));
            break;
        }
        case LineKind::Wait:
            risposta.testo = eseguiAttesa(riga);
            break;
        case LineKind::Next:
            risposta.testo = "%Next device";
            break;
        case LineKind::Empty:
            risposta.testo = "#Empty line";
            break;
        case LineKind::Invalid:
            risposta.testo = "#Invalid line";
            break;
        case LineKind::Read:
        case LineKind::Constant:
            risposta.lettura = eseguiLettura(riga, righe, indice);
            break;
    }
    mostraRisultato(TestoRisposta(risposta));
    return risposta;
}

std::string Executor::eseguiAttesa(const RequestLine& riga) {
    std::string testo = "#Sleep " + riga.campi.Codice;
    if (acquiring_) observer_.lampChanged(Lamp::Yellow);
    mostraRisultato(testo);
    clock_.sleep(riga.attesa);
    if (acquiring_) observer_.lampChanged(Lamp::Green);
    return testo;
}

Reading Executor::eseguiLettura(const RequestLine& riga, const std::vector<RequestLine>* righe,
                                  std::size_t indice) {
    const Chiamata& c = riga.campiEseguiti;
    observer_.fieldsShown(c);
    Reading lettura;
    lettura.line = indice;
    lettura.name = c.Descrizione;
    if (riga.tipo == LineKind::Constant) {
        lettura.quality = Quality::Good;
        lettura.constant = c.Registro;
    } else if (riga.lettura) {
        leggiRiga(*riga.lettura, righe, indice, lettura);
    }
    return lettura;
}

void Executor::leggiRiga(const ReadParameters& p, const std::vector<RequestLine>* righe,
                           std::size_t indice, Reading& lettura) {
    lettura.quality = Quality::Failed;
    // A node beyond one byte would go on the line as another node.
    if (p.nodo < 0 || p.nodo > 255) return;
    int& fallite = falliteDiFila_[static_cast<std::uint8_t>(p.nodo)];
    const int salta = contesto_.profiloInUso().saltaDopo;
    if (salta > 0 && fallite >= salta) {
        mbus_.RegistraSaltata(static_cast<std::uint8_t>(p.nodo));
        lettura.quality = Quality::Skipped;
        return;
    }
    leggi(p, righe, indice, lettura);
    fallite = lettura.quality == Quality::Failed ? fallite + 1 : 0;
}

void Executor::leggi(const ReadParameters& p, const std::vector<RequestLine>* righe,
                       std::size_t indice, Reading& lettura) {
    if (!Leggibile(p)) return;
    auto serve = [](const std::vector<std::size_t>& elenco, std::size_t i) {
        return std::find(elenco.begin(), elenco.end(), i) != elenco.end();
    };
    if (righe && !serve(serviteDalBlocco_, indice) && !serve(daSole_, indice))
        preparaBlocco(*righe, indice);
    std::int16_t decimali = p.decimali;
    const bool registri = p.funzione >= 3;
    if (p.registroScala) {
        const std::optional<std::uint16_t> scala = leggiScala(p, righe != nullptr, lettura);
        if (!scala) return;
        const std::optional<std::int16_t> d = DecimaliDaScala(*scala, registri);
        lettura.quality = Quality::NoValue;
        if (!d) return;
        decimali = *d;
    }
    lettura.quality = Quality::Failed;
    const auto elementi =
        leggiElementi(p, blocco_ && righe && serve(serviteDalBlocco_, indice), lettura);
    if (!elementi) return;
    lettura.number = DecodificaValore(*elementi, registri, p.formato);
    const bool reale =
        p.formato.tipo == ValueType::Float32 || p.formato.tipo == ValueType::Float64;
    if (!lettura.number) {
        lettura.quality = reale ? Quality::NotFinite : Quality::NoValue;
        return;
    }
    lettura.decimals = decimali;
    lettura.quality =
        std::isfinite(Scala(lettura.number->valore, decimali)) ? Quality::Good : Quality::NotFinite;
}

// The items of the line, from the block that holds them, one request for
// the whole value, or one request an item; on a failure, what it met goes
// into the reading.
std::optional<std::vector<std::uint16_t>> Executor::leggiElementi(const ReadParameters& p,
                                                                    bool dalBlocco,
                                                                    Reading& lettura) {
    const std::vector<std::uint32_t> elementi = ElementiDi(p);
    Transaction unica;
    if (!dalBlocco && UnaRichiesta(p.formato.tipo)) {
        const std::uint32_t inizio = *std::min_element(elementi.begin(), elementi.end());
        unica = mbus_.LeggiBlocco(
            static_cast<std::uint8_t>(p.funzione), static_cast<std::uint16_t>(inizio),
            static_cast<std::uint16_t>(elementi.size()), static_cast<std::uint8_t>(p.nodo));
        if (!unica.ok()) {
            lettura.outcome = EsitoDi(unica);
            return std::nullopt;
        }
    } else if (!dalBlocco) {
        // One request an item, the addresses wrapping at 16 bits.
        std::vector<std::uint16_t> indirizzi;
        indirizzi.reserve(elementi.size());
        for (std::uint32_t a : elementi) indirizzi.push_back(static_cast<std::uint16_t>(a));
        MBus::ItemsRead letti = mbus_.LeggiElementi(p.funzione, indirizzi, p.nodo);
        if (!letti.items) lettura.outcome = EsitoDi(letti.last);
        return std::move(letti.items);
    }
    const Transaction& blocco = dalBlocco ? *blocco_ : unica;
    std::vector<std::uint16_t> valori;
    valori.reserve(elementi.size());
    for (std::uint32_t a : elementi) valori.push_back(*blocco.item(a));
    return valori;
}

// The scale register of the line: once a cycle and node, from the block
// that holds it or read alone; a line run by hand reads it again.
std::optional<std::uint16_t> Executor::leggiScala(const ReadParameters& p, bool ciclo,
                                                    Reading& lettura) {
    const auto chiave = chiaveScala(p);
    ScaleRead letta;
    if (auto it = scale_.find(chiave); ciclo && it != scale_.end()) {
        letta = it->second;
    } else {
        if (ciclo && blocco_ && blocco_->node == p.nodo && blocco_->function == p.funzione)
            letta.item = blocco_->item(*p.registroScala);
        if (!letta.item) {
            const MBus::ItemsRead letti =
                mbus_.LeggiElementi(p.funzione, {*p.registroScala}, p.nodo);
            if (letti.items)
                letta.item = letti.items->front();
            else
                letta.outcome = EsitoDi(letti.last);
        }
        if (ciclo) scale_[chiave] = letta;
    }
    if (!letta.item) lettura.outcome = letta.outcome;
    return letta.item;
}

// The group of the read line at `indice`: the read lines after it of the
// same node and function whose items, with it, fit one window of at most
// Block items with no run of more than Gap items that no line asks for.
// Next-device and constant lines may stand between them; any other line
// ends the group. A line's scale register joins the window when it fits
// and was not read yet in this cycle. A group of two items or more (a
// 32-bit line alone is one) is read with one request; when that fails, its
// lines read on their own.
void Executor::preparaBlocco(const std::vector<RequestLine>& righe, std::size_t indice) {
    const SerialProfile& profilo = contesto_.profiloInUso();
    const ReadParameters& p = *righe[indice].lettura;
    if (profilo.blocco == 0 || p.funzione < 1 || p.funzione > 4) return;
    const int massimo =
        p.funzione <= 2 ? profilo.blocco : std::min(profilo.blocco, MassimoBloccoRegistri);
    Finestra finestra(massimo, profilo.lacuna);
    auto aggiungi = [&](const ReadParameters& q) {
        const std::vector<std::uint32_t> elementi = ElementiDi(q);
        if (q.registroScala && !scale_.contains(chiaveScala(q))) {
            std::vector<std::uint32_t> conScala = elementi;
            conScala.push_back(*q.registroScala);
            if (finestra.aggiungi(conScala)) return true;
        }
        return finestra.aggiungi(elementi);
    };
    std::vector<std::size_t> gruppo;
    for (std::size_t i = indice; i < righe.size(); ++i) {
        const RequestLine& r = righe[i];
        if (r.tipo == LineKind::Next || r.tipo == LineKind::Constant) continue;
        if (r.tipo != LineKind::Read || !r.lettura || r.lettura->nodo != p.nodo ||
            r.lettura->funzione != p.funzione || !Leggibile(*r.lettura) || !aggiungi(*r.lettura))
            break;
        gruppo.push_back(i);
    }
    if (gruppo.empty() || finestra.quantita() < 2) return;
    Transaction blocco = mbus_.LeggiBlocco(static_cast<std::uint8_t>(p.funzione), finestra.inizio(),
                                           finestra.quantita(), static_cast<std::uint8_t>(p.nodo));
    blocco_.reset();
    if (blocco.ok()) blocco_ = std::move(blocco);
    (blocco_ ? serviteDalBlocco_ : daSole_) = std::move(gruppo);
}

}  // namespace tarvel
