#include "acquisition/RequestList.h"

#include <cmath>

#include "Product.h"
#include "acquisition/ListCheck.h"
#include "settings/Settings.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

// Why "Firt" or "Last" gives no line number: the file gives no key at
// all, or the key is absent, or its value is out of range.
SettingsError withoutInterval(const Settings& imp, const char* key,
                                   const std::string& value) {
    SettingsError e = imp.store().fileProblem(imp.IniPath());
    if (e.cause != SettingsErrorCause::None) return e;
    e.path = imp.IniPath();
    e.section = "Parameters";
    e.key = key;
    e.value = value;
    e.cause = Trim(value).empty() ? SettingsErrorCause::MissingKey
                                   : SettingsErrorCause::InvalidValue;
    return e;
}

// "Parallel": 0 or 1, empty or absent as 0; anything else refused.
std::optional<bool> parallelKey(const std::string& text) {
    const std::string value(Trim(text));
    if (value.empty() || value == "0") return false;
    if (value == "1") return true;
    return std::nullopt;
}

}  // namespace

int ListLineNumber(const std::string& text) {
    if (text.empty()) return 0;
    return RoundToInt16(std::fabs(LeadingNumber(text))).value_or(0);
}

std::string ListLineKey(int n) {
    std::string key = std::to_string(n);
    if (key.size() < 3) key.insert(0, 3 - key.size(), '0');
    return key;
}

std::string CaptionForTitle(const std::string& title) {
    return std::string(ProductName) + (title.empty() ? "" : " [" + title + "]");
}

RequestListRead ReadRequestList(const Settings& imp, std::string& title) {
    title = imp.LeggiIni("General", "Title", "");
    const std::string firstText = imp.LeggiIni("Parameters", "Firt", "");
    const std::string lastText = imp.LeggiIni("Parameters", "Last", "");
    const int first = ListLineNumber(firstText);
    const int last = ListLineNumber(lastText);
    if (first == 0) return {std::nullopt, withoutInterval(imp, "Firt", firstText)};
    if (last == 0) return {std::nullopt, withoutInterval(imp, "Last", lastText)};

    RequestList list;
    list.first = first;
    list.last = last;
    auto interval = RoundToInt32(LeadingNumber(imp.LeggiIni("Parameters", "Interval", "0")));
    list.interval =
        Millis(interval && *interval >= 1 && *interval <= 60000 ? *interval : 1000);
    const std::string parallelText = imp.LeggiIni("Parameters", "Parallel", "");
    const std::optional<bool> parallel = parallelKey(parallelText);
    if (!parallel) {
        SettingsError e{SettingsErrorCause::InvalidValue, imp.IniPath(), "Parameters", "Parallel",
                        parallelText, "0 o 1"};
        return {std::nullopt, std::move(e)};
    }
    list.parallel = *parallel;
    for (int n = first; n <= last; ++n) {
        std::string line(Trim(imp.LeggiIni("Parameters", ListLineKey(n), "")));
        if (ToUpper(line.substr(0, 3)) == "REM") continue;
        list.lines.push_back(LoadLine(line));
        RequestLine& loaded = list.lines.back();
        loaded.problems = LineProblems(loaded);
        // A unit that is refused goes nowhere.
        if (!IsSafeUnit(loaded.unit)) loaded.unit.clear();
    }
    return {std::move(list), {}};
}

std::vector<std::string> UnreadLines(const std::vector<std::string>& keyList,
                                       const RequestList& list) {
    const int first = list.first;
    const int last = list.last;
    std::vector<std::string> warnings;
    for (const std::string& key : keyList) {
        if (key.empty() || key.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string start = "[Parameters] " + key + ": ";
        const std::optional<std::int16_t> n = RoundToInt16(LeadingNumber(key));
        if (!n || *n < first || *n > last)
            warnings.push_back(start + "riga fuori da Firt-Last (" + std::to_string(first) + "-" +
                             std::to_string(last) + "): non viene eseguita");
        else if (ListLineKey(*n) != key)
            warnings.push_back(start + "la riga " + std::to_string(*n) + " si scrive " +
                               ListLineKey(*n) + ": non viene eseguita");
    }
    return warnings;
}

}  // namespace tarvel
