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

// The text with each control character written as \xNN.
std::string visible(std::string_view text) {
    std::string shown;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) {
            shown += ch;
            continue;
        }
        static const char hex[] = "0123456789ABCDEF";
        shown += "\\x";
        shown += hex[c >> 4];
        shown += hex[c & 0xF];
    }
    return shown;
}

}  // namespace

bool IsSafeUnit(std::string_view unit) {
    return std::none_of(unit.begin(), unit.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c < 0x20 || c == 0x7F || c == ';';
    });
}

bool IsValidElementName(std::string_view name) {
    if (name.empty() || !nameStart(static_cast<unsigned char>(name[0]))) return false;
    if (name.size() >= 3 && ToUpper(name.substr(0, 3)) == "XML") return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return nameChar(static_cast<unsigned char>(c)); });
}

namespace {

// The problems of a read line's fields.
void readProblems(const RequestLine& line, std::vector<std::string>& problems) {
    const Chiamata& c = line.fields;
    // The register is an address: up to 65535.
    // Decimals given as "@" and a register are that register's address.
    const std::string_view decimals = Trim(c.Decimali);
    const bool scale = decimals.starts_with('@');
    const bool within[] = {RoundToInt16(LeadingNumber(c.Nodo)).has_value(),
                          RoundToInt16(LeadingNumber(c.Codice)).has_value(),
                          RegisterAddress(withoutMarkers(c.Registro)).has_value(),
                          scale ? RegisterAddress(decimals.substr(1)).has_value()
                                : RoundToInt16(LeadingNumber(c.Decimali)).has_value()};
    const char* const names[] = {"nodo", "codice", "registro",
                                scale ? "registro di scala" : "decimali"};
    for (std::size_t i = 0; i < 4; ++i)
        if (!within[i]) problems.push_back(std::string(names[i]) + " fuori dall'intervallo a 16 bit");
    if (auto node = RoundToInt16(LeadingNumber(c.Nodo))) {
        if (*node < 0 || *node > 255)
            problems.emplace_back("nodo fuori dall'intervallo 0-255: la riga non viene letta");
        else if (*node > 247)
            problems.emplace_back("nodo " + std::to_string(*node) + " riservato (1-247)");
    }
    if (auto d = RoundToInt16(LeadingNumber(c.Decimali)); !scale && d && (*d < -15 || *d > 15))
        problems.emplace_back("decimali fuori dall'intervallo -15..15");
    auto function = RoundToInt16(LeadingNumber(c.Codice));
    if (function && (*function < 1 || *function > 4))
        problems.push_back("codice funzione " + std::string(Trim(c.Codice)) +
                           " non supportato (1-4)");
    const int kinds = typeLetters(c.Registro);
    if (kinds > 1)
        problems.emplace_back("più di un tipo tra F, D e Q: la riga non viene letta");
    else if (kinds == 1 && function && *function >= 1 && *function <= 2)
        problems.emplace_back("F, D e Q leggono registri (codice 3 o 4): la riga non viene letta");
    // Their registers are read with one request, which cannot wrap around.
    if (const auto& r = line.reading; kinds == 1 && r) {
        const int latest = WordsOf(r->format.kind) - 1;
        if (r->lowWordNext ? r->address + latest > 65535 : r->address < latest)
            problems.emplace_back("il valore esce dai registri 0-65535: la riga non viene letta");
    }
}

}  // namespace

std::vector<std::string> LineProblems(const RequestLine& line) {
    std::vector<std::string> problems;
    const LineKind kind = line.kind;
    if (kind == LineKind::Invalid) {
        problems.emplace_back("riga incompleta: servono tre virgole e un punto e virgola");
        return problems;
    }
    if (kind == LineKind::Every && !line.period)
        problems.push_back("EVERY: valore non valido \"" + line.fields.Codice + "\" (da 0 a " +
                           std::to_string(MaxGroupPeriodMs) +
                           " ms): le righe che seguono si leggono a ogni ciclo");
    if (kind != LineKind::Read && kind != LineKind::Constant) return problems;
    const Chiamata& c = line.fields;
    if (!IsValidElementName(c.Descrizione))
        problems.push_back("descrizione \"" + c.Descrizione + "\" non valida come nome XML");
    if (!IsSafeUnit(line.unit))
        problems.push_back(
            "unità \"" + visible(line.unit) +
            "\" non valida (caratteri di controllo o \";\"): il valore resta senza unità");
    if (kind == LineKind::Constant) {
        // The constant goes into the output as it stands.
        if (c.Registro.find_first_of(std::string_view("<\0", 2)) != std::string::npos)
            problems.emplace_back("costante con un carattere che rende l'XML non valido (< o NUL)");
        return problems;
    }
    readProblems(line, problems);
    return problems;
}

std::vector<ListProblem> ListProblems(const std::vector<RequestLine>& lines,
                                           const std::vector<int>& devices) {
    std::vector<ListProblem> problems;
    // (device, description) -> first line
    std::map<std::pair<int, std::string>, std::size_t> views;
    for (std::size_t i = 0; i < lines.size() && i < devices.size(); ++i) {
        const RequestLine& line = lines[i];
        if (line.kind != LineKind::Read && line.kind != LineKind::Constant) continue;
        const auto [first, fresh] =
            views.emplace(std::pair(devices[i], line.fields.Descrizione), i);
        if (!fresh)
            problems.push_back({i, "descrizione \"" + line.fields.Descrizione +
                                       "\" già usata dalla riga " + std::to_string(first->second) +
                                       " dello stesso dispositivo"});
    }
    return problems;
}

}  // namespace tarvel
