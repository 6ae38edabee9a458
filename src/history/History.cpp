#include "history/History.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "Product.h"
#include "settings/KeyRules.h"

namespace tarvel {
namespace {

// A CSV cell: quoted when it holds a comma, a quote or a line end.
std::string Cella(const std::string& testo) {
    if (testo.find_first_of(",\"\r\n") == std::string::npos) return testo;
    std::string cella = "\"";
    for (char c : testo) cella += c == '"' ? std::string("\"\"") : std::string(1, c);
    return cella + "\"";
}

std::string Cella(const HistoryValue& valore) {
    if (const double* d = std::get_if<double>(&valore)) {
        char testo[64];
        auto [fine, errore] = std::to_chars(testo, testo + sizeof testo, *d);
        return errore == std::errc() ? std::string(testo, fine) : std::string();
    }
    if (const std::string* t = std::get_if<std::string>(&valore)) return Cella(*t);
    return {};
}

}  // namespace

HistorySettingsRead LeggiImpostazioniStorico(const HistoryKeyReader& leggi) {
    using I = HistorySettings;
    HistorySettingsRead lettura;
    lettura.impostazioni.file = leggi("File");
    const std::string giorni = leggi("Days");
    if (giorni.empty()) return lettura;
    if (const auto n = WholeNumberIn(giorni, 1, I::MassimoGiorni))
        lettura.impostazioni.giorni = static_cast<int>(*n);
    else
        lettura.problemi.push_back(
            BadValueText("History", "Days", giorni, RangeText(1, I::MassimoGiorni)));
    return lettura;
}

History::History(HistoryStore* store, const WallClock* wall, Clock& clock, Dialogs& dialogs)
    : store_(store), wall_(wall), clock_(clock), dialogs_(dialogs) {}

void History::Configura(const HistorySettings& impostazioni,
                        const std::string& cartellaProgramma) {
    const std::string& file = impostazioni.file;
    std::string percorso;
    if (store_ && wall_ && !file.empty())
        percorso = file.front() == '/' ? file : cartellaProgramma + "/" + file;
    // A reload that keeps the file keeps its hourly deletion and its message.
    if (percorso != percorso_) {
        ultimaPulizia_.reset();
        avvisato_ = false;
    }
    percorso_ = std::move(percorso);
    memoria_ = {};
    giorni_ = impostazioni.giorni;
    if (store_) store_->open(percorso_);
}

void History::InizioCiclo() {
    if (attivo()) inizio_ = wall_->now();
}

std::vector<HistoryRow> History::righeDelCiclo(long numero,
                                               const std::vector<Reading>& letture) const {
    std::vector<HistoryRow> righeStorico;
    const std::string tempo = TestoUTC(inizio_);
    for (const Reading& r : letture) {
        HistoryRow h{tempo, numero, r.device, r.name, {}, static_cast<int>(r.line)};
        if (r.quality == Quality::Good && r.constant)
            h.value = *r.constant;
        else if (const std::optional<double> valore = ValueNumber(r))
            h.value = *valore;
        righeStorico.push_back(std::move(h));
    }
    return righeStorico;
}

void History::RegistraCiclo(long numero, const std::vector<Reading>& letture) {
    if (!attivo()) return;
    store_->append(righeDelCiclo(numero, letture));
    pulisci();
    // Last: a message box lets the next cycles run before it returns.
    controllaScrittura();
}

// The database answers on its own thread: a failure shows at the cycle
// after it.
void History::controllaScrittura() {
    const HistoryState stato = store_->state();
    if (!stato.failing) {
        avvisato_ = false;
        return;
    }
    if (avvisato_) return;
    avvisato_ = true;
    dialogs_.messageBox(NomeProdotto,
                        "Impossibile scrivere lo storico: i valori non vengono registrati "
                        "finché il file non torna scrivibile.",
                        Icon::Exclamation, Buttons::Ok, Answer::Ok, stato.error);
}

void History::pulisci() {
    const TimePoint adesso = clock_.now();
    if (ultimaPulizia_ && adesso - *ultimaPulizia_ < IntervalloPulizia) return;
    ultimaPulizia_ = adesso;
    // In milliseconds, whose range holds any number of days from any time
    // of the clock: the bound is never later than now.
    const int giorni = std::clamp(giorni_, 1, HistorySettings::MassimoGiorni);
    const TimeMs adessoMs = std::chrono::floor<std::chrono::milliseconds>(wall_->now());
    store_->deleteBefore(TestoUTC(adessoMs - std::chrono::days(giorni)));
}

std::vector<HistoryPoint> History::Curva(const std::string& nome,
                                         std::chrono::seconds durata) const {
    if (!attivo()) return {};
    // The curve drawn last is kept: only the rows from its last time on are
    // read again, so a week of one-second cycles is read once.
    LastTrend& m = memoria_;
    if (m.nome != nome || m.durata != durata) m = {nome, durata, {}, {}};
    const WallTime da = wall_->now() - durata;
    while (!m.punti.empty() && m.punti.back().quando == DaTestoUTC(m.ultimo)) m.punti.pop_back();
    std::string errore;
    const auto righe = store_->read({nome}, m.ultimo.empty() ? TestoUTC(da) : m.ultimo, {}, errore);
    for (const HistoryRow& r : righe) {
        m.ultimo = r.time;
        if (std::holds_alternative<std::string>(r.value)) continue;
        const double* valore = std::get_if<double>(&r.value);
        m.punti.push_back({DaTestoUTC(r.time), valore ? std::optional(*valore) : std::nullopt});
    }
    const auto primo = std::find_if(m.punti.begin(), m.punti.end(),
                                    [da](const HistoryPoint& p) { return p.quando >= da; });
    m.punti.erase(m.punti.begin(), primo);
    return m.punti.size() > MassimoPunti ? Riduci(m.punti, da, durata) : m.punti;
}

// At most MassimoPunti points: one per equal slice of the span, the mean of
// its values at the slice's middle, a gap where the slice holds only failed
// reads; a slice without rows gives nothing.
std::vector<HistoryPoint> History::Riduci(const std::vector<HistoryPoint>& punti, WallTime da,
                                          std::chrono::seconds durata) {
    const auto fetta =
        std::chrono::duration_cast<WallTime::duration>(durata) / static_cast<long>(MassimoPunti);
    std::vector<HistoryPoint> ridotti;
    for (std::size_t i = 0; i < punti.size();) {
        const auto n = std::max<long>(0, (punti[i].quando - da) / fetta);
        const WallTime fine = da + (n + 1) * fetta;
        double somma = 0;
        int quanti = 0;
        for (; i < punti.size() && punti[i].quando < fine; ++i)
            if (punti[i].valore) {
                somma += *punti[i].valore;
                ++quanti;
            }
        ridotti.push_back(
            {fine - fetta / 2, quanti ? std::optional(somma / quanti) : std::nullopt});
    }
    return ridotti;
}

bool History::EsportaCSV(const std::vector<std::string>& nomi, const std::string& da,
                         const std::string& a, std::string& csv, std::string& errore) const {
    if (!attivo()) {
        errore = "[History] File: chiave mancante o vuota";
        return false;
    }
    errore.clear();
    const auto righe = store_->read(nomi, da, a, errore);
    if (!errore.empty()) return false;
    csv = "time";
    for (const auto& nome : nomi) csv += "," + Cella(nome);
    csv += "\n";
    // One line per cycle start; a name twice in a cycle gives its first.
    for (std::size_t i = 0; i < righe.size();) {
        std::vector<std::optional<std::string>> celle(nomi.size());
        std::size_t j = i;
        for (; j < righe.size() && righe[j].time == righe[i].time; ++j)
            for (std::size_t k = 0; k < nomi.size(); ++k)
                if (nomi[k] == righe[j].name && !celle[k]) celle[k] = Cella(righe[j].value);
        csv += righe[i].time;
        for (const auto& cella : celle) csv += "," + cella.value_or("");
        csv += "\n";
        i = j;
    }
    return true;
}

}  // namespace tarvel
