// Request lines: any text is cut into fields taken from the line itself (or
// the fixed words of the control lines), the kind of line agrees with the
// first field, and the line's check runs on whatever was cut.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "acquisition/Chiamata.h"
#include "acquisition/ListCheck.h"
#include "settings/Number.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

bool isFixedWord(const std::string& field) {
    for (const char* word : {"*", "#", "%", "~", "Serial settings", "Wait", "Next device", "Every"}) {
        if (field == word) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const tarvel::Chiamata record = tarvel::CutLine(line);
    const tarvel::LineKind kind = tarvel::KindOfLine(line);
    require(tarvel::LineKindName(kind) != nullptr);

    for (const std::string* field :
         {&record.Nodo, &record.Codice, &record.Registro, &record.Decimali, &record.Descrizione}) {
        if (isFixedWord(*field)) continue;
        require(field->size() <= line.size());
        require(line.find(*field) != std::string_view::npos);
    }

    using tarvel::LineKind;
    require((kind == LineKind::Empty) == tarvel::Trim(line).empty());
    require((kind == LineKind::Serial) == (record.Nodo == "*"));
    require((kind == LineKind::Wait) == (record.Nodo == "#"));
    require((kind == LineKind::Next) == (record.Nodo == "%"));
    // The check of a line as the load keeps it: control lines have nothing
    // to find, a line cut short has that one problem, an EVERY line one
    // exactly when its period is unusable.
    const tarvel::RequestLine loaded = tarvel::LoadLine(line);
    const std::vector<std::string> problems = tarvel::LineProblems(loaded);
    // A value's description ends at a second ";", after which is its unit.
    require(line.find(loaded.unit) != std::string_view::npos);
    if (kind == LineKind::Read || kind == LineKind::Constant)
        require(record.Descrizione.find(';') == std::string::npos);
    if (kind == LineKind::Every)
        require(record.Nodo == "~" && problems.size() == (loaded.period ? 0u : 1u));
    else if (kind != LineKind::Read && kind != LineKind::Constant)
        require(problems.size() == (kind == LineKind::Invalid ? 1u : 0u));
    return 0;
}
