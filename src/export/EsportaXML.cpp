#include "export/EsportaXML.h"

#include <optional>

#include "settings/KeyRules.h"
#include "settings/Numero.h"

namespace tarvel {
namespace {

constexpr const char* FineRiga = "\r\n";
constexpr Millis PausaDopoCancellazione{100};

enum class TipoRisposta { Valore, Prossimo, Profilo, Altro };

TipoRisposta tipoRisposta(const std::string& riga) {
    if (!riga.empty() && riga[0] == '<') return TipoRisposta::Valore;
    if (!riga.empty() && riga[0] == '%') return TipoRisposta::Prossimo;
    if (Maiuscolo(riga.substr(0, 6)) == "SERIAL") return TipoRisposta::Profilo;
    return TipoRisposta::Altro;
}

// One output file being put together; it reaches the disk whole at close.
class FileUscita {
  public:
    FileUscita(std::string path, const std::string& dichiarazione) : path_(std::move(path)) {
        riga(dichiarazione);
        riga("  <Dispositivi>");
        riga("");
        riga("    <Dispositivo>");
    }
    void valore(const std::string& risposta) { riga("      " + risposta); }
    void prossimo() {
        riga("    </Dispositivo>");
        riga("");
        riga("    <Dispositivo>");
    }
    void chiudi(ContestoEsportazione& ctx, EsitoEsportazione& esito) {
        riga("    </Dispositivo>");
        riga("");
        riga("  </Dispositivi>");
        std::string errore;
        if (ctx.files.replace(path_, testo_, errore))
            esito.scritti.push_back(path_);
        else
            esito.errori.push_back(path_ + ": " + errore);
    }

  private:
    void riga(const std::string& text) {
        testo_ += text;
        testo_ += FineRiga;
    }
    std::string path_;
    std::string testo_;
};

struct ImpostazioniUscita {
    bool kill = false;
    std::string dichiarazione;
    std::string generale;
};

// An output name without a folder, or with a relative one, is in the
// program folder, whatever the working folder of the process.
std::string nellaCartella(const std::string& path, const ContestoEsportazione& ctx) {
    if (path.empty() || path.front() == '/' || ctx.cartellaProgramma.empty()) return path;
    return ctx.cartellaProgramma + "/" + path;
}

ImpostazioniUscita leggiImpostazioni(ContestoEsportazione& ctx) {
    ImpostazioniUscita imp;
    std::string kill = ctx.leggiIni("Export", "Kill", "0");
    imp.kill = !kill.empty() && kill != "0";
    std::string encoding = ctx.leggiIni("XML", "Encoding", "UTF-8");
    // A value that is no encoding name would put its text into the markup
    // of every file (the load says so once).
    if (encoding.empty() || EncodingProblem(encoding)) encoding = "UTF-8";
    std::string modello = R"(<?xml version="1.0" encoding="@"?>)";
    for (char c : modello) imp.dichiarazione += c == '@' ? encoding : std::string(1, c);
    imp.generale = ctx.leggiIni("Export", "Out", "");
    if (imp.generale.empty()) imp.generale = "NoName.xml";
    imp.generale = nellaCartella(imp.generale, ctx);
    return imp;
}

// The profiles write files of their own as soon as one profile line of
// the answers names a section with an output file.
bool unFilePerProfilo(const std::vector<std::string>& risposte, const LettoreIni& leggiIni) {
    for (const auto& riga : risposte)
        if (tipoRisposta(riga) == TipoRisposta::Profilo && !leggiIni(riga, "Out", "").empty())
            return true;
    return false;
}

}  // namespace

std::vector<int> DispositiviRisposte(const std::vector<std::string>& risposte,
                                     const LettoreIni& leggiIni) {
    const bool perProfilo = unFilePerProfilo(risposte, leggiIni);
    std::vector<int> dispositivi;
    dispositivi.reserve(risposte.size());
    int dispositivo = 1;
    bool fileAperto = false;  // as EsportaXML opens them, below
    for (const auto& riga : risposte) {
        const TipoRisposta tipo = tipoRisposta(riga);
        if (tipo == TipoRisposta::Prossimo ||
            (tipo == TipoRisposta::Profilo && perProfilo && fileAperto))
            ++dispositivo;
        if (tipo != TipoRisposta::Altro) fileAperto = true;
        dispositivi.push_back(dispositivo);
    }
    return dispositivi;
}

void CancellaFile(const std::string& path, ContestoEsportazione& ctx) {
    if (ctx.files.exists(path)) {
        ctx.files.remove(path);
        ctx.clock.sleep(PausaDopoCancellazione);
    }
}

EsitoEsportazione EsportaXML(const std::vector<std::string>& risposte, ContestoEsportazione& ctx) {
    EsitoEsportazione esito;
    ImpostazioniUscita imp = leggiImpostazioni(ctx);
    auto apri = [&](const std::string& path) {
        if (imp.kill) CancellaFile(path, ctx);
        return FileUscita(path, imp.dichiarazione);
    };

    if (!unFilePerProfilo(risposte, ctx.leggiIni)) {
        FileUscita file = apri(imp.generale);
        for (std::size_t i = 0; i < risposte.size(); ++i) {
            switch (tipoRisposta(risposte[i])) {
                case TipoRisposta::Valore:
                    file.valore(risposte[i]);
                    break;
                case TipoRisposta::Prossimo:
                    file.prossimo();
                    break;
                case TipoRisposta::Profilo:
                    if (i > 0) file.prossimo();
                    break;
                case TipoRisposta::Altro:
                    break;
            }
        }
        file.chiudi(ctx, esito);
        return esito;
    }

    // One file per serial profile. Answers that come before the first
    // profile line go to the general file, so that nothing read is lost.
    std::optional<FileUscita> file;
    for (const auto& riga : risposte) {
        TipoRisposta tipo = tipoRisposta(riga);
        if (tipo == TipoRisposta::Altro) continue;
        if (tipo == TipoRisposta::Profilo) {
            if (file) file->chiudi(ctx, esito);
            std::string path = ctx.leggiIni(riga, "Out", "");
            file.emplace(apri(nellaCartella(path.empty() ? "NoName.xml" : path, ctx)));
            continue;
        }
        if (!file) file.emplace(apri(imp.generale));
        if (tipo == TipoRisposta::Valore)
            file->valore(riga);
        else
            file->prossimo();
    }
    if (file) file->chiudi(ctx, esito);
    return esito;
}

}  // namespace tarvel
