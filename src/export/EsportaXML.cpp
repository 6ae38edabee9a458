#include "export/EsportaXML.h"

#include <optional>

#include "settings/KeyRules.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

constexpr const char* FineRiga = "\r\n";
constexpr Millis PausaDopoCancellazione{100};

enum class AnswerKind { Value, Next, Profile, Other };

AnswerKind tipoRisposta(const Risposta& risposta) {
    if (risposta.lettura) return AnswerKind::Value;
    if (risposta.tipo == LineKind::Next) return AnswerKind::Next;
    if (risposta.tipo == LineKind::Serial) return AnswerKind::Profile;
    return AnswerKind::Other;
}

// One output file being put together; it reaches the disk whole at close.
class OutputFile {
  public:
    OutputFile(std::string path, const std::string& dichiarazione) : path_(std::move(path)) {
        riga(dichiarazione);
        riga("  <Dispositivi>");
        riga("");
        riga("    <Dispositivo>");
    }
    void valore(const Reading& lettura) { riga("      " + ElementoXML(lettura)); }
    void prossimo() {
        riga("    </Dispositivo>");
        riga("");
        riga("    <Dispositivo>");
    }
    void chiudi(ExportContext& ctx, ExportResult& esito) {
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

// An output name without a folder, or with a relative one, is in the
// program folder, whatever the working folder of the process.
std::string nellaCartella(const std::string& path, const std::string& cartella) {
    if (path.empty() || path.front() == '/' || cartella.empty()) return path;
    return cartella + "/" + path;
}

// The profiles write files of their own as soon as one profile line of
// the answers names a section with an output file.
bool unFilePerProfilo(const std::vector<Risposta>& risposte, const IniReader& leggiIni) {
    for (const auto& r : risposte)
        if (tipoRisposta(r) == AnswerKind::Profile && !leggiIni(r.testo, "Out", "").empty())
            return true;
    return false;
}

bool unFilePerProfilo(const OutputSettings& settings) {
    for (const auto& [riga, file] : settings.profileFiles)
        if (!file.empty()) return true;
    return false;
}

}  // namespace

std::string ElementoXML(const Reading& lettura) {
    std::string valore;
    if (lettura.quality == Quality::NotRead)
        valore = "-99999";
    else
        valore = ValueText(lettura).value_or("");
    return "<" + lettura.name + ">" + valore + "</" + lettura.name + ">";
}

std::string TestoRisposta(const Risposta& risposta) {
    return risposta.lettura ? ElementoXML(*risposta.lettura) : risposta.testo;
}

std::vector<Reading> LettureCiclo(const std::vector<Risposta>& risposte,
                                  const IniReader& leggiIni) {
    const std::vector<int> dispositivi = DispositiviRisposte(risposte, leggiIni);
    std::vector<Reading> letture;
    std::string profilo;
    for (std::size_t i = 0; i < risposte.size(); ++i) {
        if (risposte[i].tipo == LineKind::Serial) profilo = risposte[i].testo;
        if (!risposte[i].lettura) continue;
        letture.push_back(*risposte[i].lettura);
        letture.back().device = dispositivi[i];
        letture.back().profile = profilo;
    }
    return letture;
}

std::vector<int> DispositiviRighe(const std::vector<RequestLine>& righe, const IniReader& leggiIni) {
    return DispositiviRisposte(RisposteRighe(righe), leggiIni);
}

std::vector<Risposta> RisposteRighe(const std::vector<RequestLine>& righe) {
    std::vector<Risposta> risposte;
    risposte.reserve(righe.size());
    for (const RequestLine& riga : righe) {
        Risposta r{riga.tipo, {}, std::nullopt};
        if (riga.tipo == LineKind::Serial) r.testo = "Serial_" + riga.campi.Codice;
        if (riga.tipo == LineKind::Read || riga.tipo == LineKind::Constant) r.lettura.emplace();
        risposte.push_back(std::move(r));
    }
    return risposte;
}

std::vector<int> DispositiviRisposte(const std::vector<Risposta>& risposte,
                                     const IniReader& leggiIni) {
    const bool perProfilo = unFilePerProfilo(risposte, leggiIni);
    std::vector<int> dispositivi;
    dispositivi.reserve(risposte.size());
    int dispositivo = 1;
    bool fileAperto = false;  // as EsportaXML opens them, below
    for (const auto& riga : risposte) {
        const AnswerKind tipo = tipoRisposta(riga);
        if (tipo == AnswerKind::Next ||
            (tipo == AnswerKind::Profile && perProfilo && fileAperto))
            ++dispositivo;
        if (tipo != AnswerKind::Other) fileAperto = true;
        dispositivi.push_back(dispositivo);
    }
    return dispositivi;
}

void CancellaFile(const std::string& path, ExportContext& ctx) {
    if (ctx.files.exists(path)) {
        ctx.files.remove(path);
        ctx.clock.sleep(PausaDopoCancellazione);
    }
}

OutputSettings ReadOutputSettings(const std::vector<Risposta>& risposte,
                                  const IniReader& leggiIni, const std::string& cartella) {
    OutputSettings imp;
    std::string kill = leggiIni("Export", "Kill", "0");
    imp.kill = !kill.empty() && kill != "0";
    std::string encoding = leggiIni("XML", "Encoding", "UTF-8");
    // A value that is no encoding name would put its text into the markup
    // of every file (the load says so once).
    if (encoding.empty() || EncodingProblem(encoding)) encoding = "UTF-8";
    std::string modello = R"(<?xml version="1.0" encoding="@"?>)";
    for (char c : modello) imp.declaration += c == '@' ? encoding : std::string(1, c);
    imp.generalFile = leggiIni("Export", "Out", "");
    if (imp.generalFile.empty()) imp.generalFile = "NoName.xml";
    imp.generalFile = nellaCartella(imp.generalFile, cartella);
    for (const auto& r : risposte)
        if (tipoRisposta(r) == AnswerKind::Profile && !imp.profileFiles.contains(r.testo))
            imp.profileFiles[r.testo] = leggiIni(r.testo, "Out", "");
    return imp;
}

ExportResult EsportaXML(const std::vector<Risposta>& risposte, const OutputSettings& imp,
                             ExportContext& ctx) {
    ExportResult esito;
    auto apri = [&](const std::string& path) {
        if (imp.kill) CancellaFile(path, ctx);
        return OutputFile(path, imp.declaration);
    };

    if (!unFilePerProfilo(imp)) {
        OutputFile file = apri(imp.generalFile);
        for (std::size_t i = 0; i < risposte.size(); ++i) {
            switch (tipoRisposta(risposte[i])) {
                case AnswerKind::Value:
                    file.valore(*risposte[i].lettura);
                    break;
                case AnswerKind::Next:
                    file.prossimo();
                    break;
                case AnswerKind::Profile:
                    if (i > 0) file.prossimo();
                    break;
                case AnswerKind::Other:
                    break;
            }
        }
        file.chiudi(ctx, esito);
        return esito;
    }

    // One file per serial profile. Answers that come before the first
    // profile line go to the general file, so that nothing read is lost.
    std::optional<OutputFile> file;
    for (const auto& r : risposte) {
        AnswerKind tipo = tipoRisposta(r);
        if (tipo == AnswerKind::Other) continue;
        if (tipo == AnswerKind::Profile) {
            if (file) file->chiudi(ctx, esito);
            const auto out = imp.profileFiles.find(r.testo);
            const std::string path = out == imp.profileFiles.end() ? "" : out->second;
            file.emplace(
                apri(nellaCartella(path.empty() ? "NoName.xml" : path, ctx.cartellaProgramma)));
            continue;
        }
        if (!file) file.emplace(apri(imp.generalFile));
        if (tipo == AnswerKind::Value)
            file->valore(*r.lettura);
        else
            file->prossimo();
    }
    if (file) file->chiudi(ctx, esito);
    return esito;
}

}  // namespace tarvel
