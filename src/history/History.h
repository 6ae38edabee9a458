#pragma once
// The history: after every cycle, once the output is written, one row per
// value of the cycle goes to the history database ([History] File), old
// rows are deleted after [History] Days, and the database is read back for
// the trend window and the CSV export. The database works off the cycle's
// thread; a cycle only hands its rows over.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/Reading.h"
#include "history/UtcTime.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/HistoryStore.h"
#include "platform/WallClock.h"

namespace tarvel {

// One point of a curve: nothing for a failed read, drawn as a gap.
struct HistoryPoint {
    WallTime quando;
    std::optional<double> valore;
};

// [History] as read and checked.
struct HistorySettings {
    static constexpr int GiorniPredefiniti = 90;
    static constexpr int MassimoGiorni = 36500;
    std::string file;  // as written; empty: no history
    int giorni = GiorniPredefiniti;
};

struct HistorySettingsRead {
    HistorySettings impostazioni;
    // One line for each key with a bad value, naming it and the value:
    // the section is then refused.
    std::vector<std::string> problemi;
};

// Reads a key of [History]; empty when missing.
using HistoryKeyReader = std::function<std::string(const std::string& chiave)>;

// File as written; Days a whole number from 1 to MassimoGiorni, empty or
// missing for 90.
HistorySettingsRead LeggiImpostazioniStorico(const HistoryKeyReader& leggi);

class History {
  public:
    static constexpr std::chrono::hours IntervalloPulizia{1};

    History(HistoryStore* store, const WallClock* wall, Clock& clock, Dialogs& dialogs);

    // The checked settings: an empty file is off, a relative one is in the
    // program folder.
    void Configura(const HistorySettings& impostazioni, const std::string& cartellaProgramma);
    bool attivo() const { return !percorso_.empty(); }
    const std::string& percorso() const { return percorso_; }
    int giorni() const { return giorni_; }

    void InizioCiclo();
    // The cycle's rows to the database; a history that stopped writing is
    // told once, until it writes again.
    void RegistraCiclo(long numero, const std::vector<Reading>& letture);

    // The values of one name over the last `durata`, in time order; more
    // than MassimoPunti are thinned to as many means of equal slices.
    std::vector<HistoryPoint> Curva(const std::string& nome, std::chrono::seconds durata) const;
    static constexpr std::size_t MassimoPunti = 1000;
    // The names as columns, one row per cycle start in [da, a) (empty: no
    // bound), comma-separated with a header line; false with errore when the
    // database cannot be read.
    bool EsportaCSV(const std::vector<std::string>& nomi, const std::string& da,
                    const std::string& a, std::string& csv, std::string& errore) const;

  private:
    std::vector<HistoryRow> righeDelCiclo(long numero, const std::vector<Reading>& letture) const;
    static std::vector<HistoryPoint> Riduci(const std::vector<HistoryPoint>& punti, WallTime da,
                                            std::chrono::seconds durata);
    void pulisci();
    void controllaScrittura();

    HistoryStore* store_;
    const WallClock* wall_;
    Clock& clock_;
    Dialogs& dialogs_;
    std::string percorso_;
    int giorni_ = HistorySettings::GiorniPredefiniti;
    WallTime inizio_{};
    std::optional<TimePoint> ultimaPulizia_;
    bool avvisato_ = false;
    // The last curve asked for, with the time of its last row.
    struct LastTrend {
        std::string nome;
        std::chrono::seconds durata{0};
        std::vector<HistoryPoint> punti;
        std::string ultimo;
    };
    mutable LastTrend memoria_;
};

}  // namespace tarvel
