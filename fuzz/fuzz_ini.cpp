// The settings text: any bytes parse; a value written is read back as the
// profile read gives it, and no other key changes.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "settings/IniDocument.h"

namespace {

using tarvel::IniDocument;
using Values = std::map<std::pair<std::string, std::string>, std::string>;

void require(bool holds) {
    if (!holds) std::abort();
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string trimmed(std::string text) {
    while (!text.empty() && isBlank(text.back())) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) ++start;
    return text.substr(start);
}

std::string folded(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// What a read gives for a stored value: one enclosing pair of matching
// quotes removed, then at most 254 bytes.
std::string asRead(const std::string& stored) {
    std::string value = stored;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value.substr(0, IniDocument::MaxValueLength);
}

Values valuesOf(const IniDocument& doc) {
    Values values;
    doc.forEach([&](std::string_view section, std::string_view key, std::string_view value) {
        values[{folded(std::string(section)), folded(std::string(key))}] = std::string(value);
    });
    return values;
}

bool writableNames(const std::string& section, const std::string& key) {
    if (section.find_first_of("\r\n") != std::string::npos) return false;
    if (key.find_first_of("=\r\n") != std::string::npos) return false;
    return key.empty() || (key.front() != ';' && key.front() != '[');
}

// A value of one line without blanks around it.
std::string oneLine(std::string value) {
    std::string out;
    for (char c : value) {
        if (c != '\r' && c != '\n') out += c;
    }
    return trimmed(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::string section = in.ConsumeRandomLengthString(24);
    std::string key = in.ConsumeRandomLengthString(24);
    const std::string value = oneLine(in.ConsumeRandomLengthString(400));
    const bool existing = in.ConsumeBool();
    const auto pick = in.ConsumeIntegral<std::uint16_t>();
    IniDocument doc(in.ConsumeRemainingBytesAsString());

    Values before = valuesOf(doc);
    for (const auto& [names, stored] : before) {
        require(doc.get(names.first, names.second, "\x01") == asRead(stored));
    }
    if (existing && !before.empty()) {
        const auto& names = std::next(before.begin(), pick % before.size())->first;
        section = names.first;
        key = names.second;
    }
    section = trimmed(section);
    key = trimmed(key);

    const std::string original = doc.bytes();
    const bool written = doc.set(section, key, value);
    require(written == writableNames(section, key));
    if (!written) {
        require(doc.bytes() == original);
        return 0;
    }
    require(doc.get(section, key, "\x01") == asRead(value));
    Values after = valuesOf(doc);
    require(IniDocument(doc.bytes()).get(section, key, "\x01") == asRead(value));
    before.erase({folded(section), folded(key)});
    after.erase({folded(section), folded(key)});
    require(after == before);
    return 0;
}
