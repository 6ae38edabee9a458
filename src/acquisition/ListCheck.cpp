#include "acquisition/ListCheck.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "acquisition/Chiamata.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

bool nameStart(unsigned char c) { return std::isalpha(c) || c == '_' || c == ':' || c >= 0x80; }
bool nameChar(unsigned char c) { return nameStart(c) || std::isdigit(c) || c == '-' || c == '.'; }

std::string withoutMarkers(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](char c) {
                                  return std::string_view("&+-FDQSNfdqsn").find(c) !=
                                         std::string_view::npos;
                              }),
               text.end());
    return text;
}

int typeLetters(std::string_view text) {
    int count = 0;
    for (char letter : {'F', 'D', 'Q'})
        count += std::any_of(text.begin(), text.end(), [letter](char c) {
            return std::toupper(static_cast<unsigned char>(c)) == letter;
        });
    return count;
}

}  // namespace

bool NomeElementoValido(std::string_view nome) {
    if (nome.empty() || !nameStart(static_cast<unsigned char>(nome[0]))) return false;
    if (nome.size() >= 3 && Maiuscolo(nome.substr(0, 3)) == "XML") return false;
    return std::all_of(nome.begin(), nome.end(),
                       [](char c) { return nameChar(static_cast<unsigned char>(c)); });
}

std::vector<std::string> ProblemiRiga(const RequestLine& riga) {
    std::vector<std::string> problemi;
    const LineKind tipo = riga.tipo;
    if (tipo == LineKind::Invalid) {
        problemi.emplace_back("riga incompleta: servono tre virgole e un punto e virgola");
        return problemi;
    }
    if (tipo != LineKind::Read && tipo != LineKind::Constant) return problemi;
    const Chiamata& c = riga.campi;
    if (!NomeElementoValido(c.Descrizione))
        problemi.push_back("descrizione \"" + c.Descrizione + "\" non valida come nome XML");
    if (tipo == LineKind::Constant) {
        // The constant goes into the output as it stands.
        if (c.Registro.find_first_of(std::string_view("<\0", 2)) != std::string::npos)
            problemi.emplace_back("costante con un carattere che rende l'XML non valido (< o NUL)");
        return problemi;
    }
    // The register is an address: up to 65535.
    // Decimals given as "@" and a register are that register's address.
    const std::string_view decimali = Trim(c.Decimali);
    const bool scala = decimali.starts_with('@');
    const bool entro[] = {ArrotondaInt16(NumeroIniziale(c.Nodo)).has_value(),
                          ArrotondaInt16(NumeroIniziale(c.Codice)).has_value(),
                          IndirizzoRegistro(withoutMarkers(c.Registro)).has_value(),
                          scala ? IndirizzoRegistro(decimali.substr(1)).has_value()
                                : ArrotondaInt16(NumeroIniziale(c.Decimali)).has_value()};
    const char* const nomi[] = {"nodo", "codice", "registro",
                                scala ? "registro di scala" : "decimali"};
    for (std::size_t i = 0; i < 4; ++i)
        if (!entro[i]) problemi.push_back(std::string(nomi[i]) + " fuori dall'intervallo a 16 bit");
    if (auto nodo = ArrotondaInt16(NumeroIniziale(c.Nodo))) {
        if (*nodo < 0 || *nodo > 255)
            problemi.emplace_back("nodo fuori dall'intervallo 0-255: la riga non viene letta");
        else if (*nodo > 247)
            problemi.emplace_back("nodo " + std::to_string(*nodo) + " riservato (1-247)");
    }
    if (auto d = ArrotondaInt16(NumeroIniziale(c.Decimali)); !scala && d && (*d < -15 || *d > 15))
        problemi.emplace_back("decimali fuori dall'intervallo -15..15");
    auto funzione = ArrotondaInt16(NumeroIniziale(c.Codice));
    if (funzione && (*funzione < 1 || *funzione > 4))
        problemi.push_back("codice funzione " + std::string(Trim(c.Codice)) +
                           " non supportato (1-4)");
    const int tipi = typeLetters(c.Registro);
    if (tipi > 1)
        problemi.emplace_back("più di un tipo tra F, D e Q: la riga non viene letta");
    else if (tipi == 1 && funzione && *funzione >= 1 && *funzione <= 2)
        problemi.emplace_back("F, D e Q leggono registri (codice 3 o 4): la riga non viene letta");
    // Their registers are read with one request, which cannot wrap around.
    if (const auto& r = riga.lettura; tipi == 1 && r) {
        const int ultimo = ParoleDi(r->formato.tipo) - 1;
        if (r->bassoSuccessivo ? r->registro + ultimo > 65535 : r->registro < ultimo)
            problemi.emplace_back("il valore esce dai registri 0-65535: la riga non viene letta");
    }
    return problemi;
}

std::vector<ListProblem> ProblemiElenco(const std::vector<RequestLine>& righe,
                                           const std::vector<int>& dispositivi) {
    std::vector<ListProblem> problemi;
    // (device, description) -> first line
    std::map<std::pair<int, std::string>, std::size_t> viste;
    for (std::size_t i = 0; i < righe.size() && i < dispositivi.size(); ++i) {
        const RequestLine& riga = righe[i];
        if (riga.tipo != LineKind::Read && riga.tipo != LineKind::Constant) continue;
        const auto [prima, nuova] =
            viste.emplace(std::pair(dispositivi[i], riga.campi.Descrizione), i);
        if (!nuova)
            problemi.push_back({i, "descrizione \"" + riga.campi.Descrizione +
                                       "\" già usata dalla riga " + std::to_string(prima->second) +
                                       " dello stesso dispositivo"});
    }
    return problemi;
}

}  // namespace tarvel
