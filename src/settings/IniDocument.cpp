#include "settings/IniDocument.h"

#include <utility>

#include "settings/Number.h"

namespace tarvel {
namespace {

// Moves begin and end inward past blanks.
void trimRange(const std::string& text, std::size_t& begin, std::size_t& end) {
    const std::string_view whole(text);
    const std::string_view inner = Trim(whole.substr(begin, end - begin));
    begin = static_cast<std::size_t>(inner.data() - whole.data());
    end = begin + inner.size();
}

std::string folded(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != text.npos; }

bool isWritableKey(std::string_view key) {
    if (hasLineBreak(key) || key.find('=') != key.npos) return false;
    return key.empty() || (key.front() != ';' && key.front() != '[');
}

}  // namespace

IniDocument::IniDocument(std::string bytes) : bytes_(std::move(bytes)) { buildIndex(); }

void IniDocument::buildIndex() {
    sections_.clear();
    Section* current = nullptr;
    // A UTF-8 byte order mark, as some editors write, is no part of the
    // first line; it stays in the bytes, so a rewrite keeps it.
    std::size_t pos = bytes_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < bytes_.size()) {
        std::size_t newline = bytes_.find('\n', pos);
        std::size_t end = newline == std::string::npos ? bytes_.size() : newline;
        std::size_t next = newline == std::string::npos ? bytes_.size() : newline + 1;
        indexLine(pos, end, next, current);
        pos = next;
    }
}

// One line, [begin, end) without its LF; next is where the following line
// starts. current is the section the key lines belong to, null while they
// are not to be seen.
void IniDocument::indexLine(std::size_t begin, std::size_t end, std::size_t next,
                            Section*& current) {
    trimRange(bytes_, begin, end);
    if (begin == end || bytes_[begin] == ';') return;
    std::string_view line(bytes_.data() + begin, end - begin);
    if (line.front() == '[') {
        std::size_t close = line.rfind(']');
        if (close != std::string_view::npos) {
            Span name{begin + 1, begin + close};
            trimRange(bytes_, name.begin, name.end);
            auto [it, added] = sections_.try_emplace(folded(text(name)));
            current = added ? &it->second : nullptr;
            if (current) {
                current->name = name;
                current->insertAt = next;
            }
            return;
        }
    }
    std::size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) return;
    Span name{begin, begin + equals};
    trimRange(bytes_, name.begin, name.end);
    Span value{begin + equals + 1, end};
    trimRange(bytes_, value.begin, value.end);
    if (value.begin == value.end) value = {begin + equals + 1, begin + equals + 1};
    current->keys.try_emplace(folded(text(name)), Entry{name, value});
    current->insertAt = next;
}

std::string_view IniDocument::text(Span span) const {
    return std::string_view(bytes_).substr(span.begin, span.end - span.begin);
}

const IniDocument::Entry* IniDocument::lookup(std::string_view section,
                                              std::string_view key) const {
    auto s = sections_.find(folded(Trim(section)));
    if (s == sections_.end()) return nullptr;
    auto k = s->second.keys.find(folded(Trim(key)));
    return k == s->second.keys.end() ? nullptr : &k->second;
}

std::optional<std::string_view> IniDocument::find(std::string_view section,
                                                  std::string_view key) const {
    const Entry* entry = lookup(section, key);
    if (entry == nullptr) return std::nullopt;
    return text(entry->value);
}

std::string IniDocument::get(std::string_view section, std::string_view key,
                             std::string_view fallback) const {
    std::optional<std::string_view> found = find(section, key);
    if (!found) {
        while (!fallback.empty() && IsBlank(fallback.back())) fallback.remove_suffix(1);
        return std::string(fallback.substr(0, MaxValueLength));
    }
    std::string_view value = *found;
    // Unquote first, then cut: a long quoted value loses its closing quote
    // as well as the bytes after the limit.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, MaxValueLength));
}

void IniDocument::insertLine(std::size_t at, std::string line) {
    if (at > 0 && bytes_[at - 1] != '\n') line.insert(0, "\r\n");
    line += "\r\n";
    bytes_.insert(at, line);
}

bool IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (hasLineBreak(section) || !isWritableKey(key)) return false;
    value = value.substr(0, value.find_first_of("\r\n"));

    auto s = sections_.find(folded(section));
    if (s == sections_.end()) {
        insertLine(bytes_.size(), "[" + std::string(section) + "]");
        insertLine(bytes_.size(), std::string(key) + "=" + std::string(value));
    } else if (auto k = s->second.keys.find(folded(key)); k != s->second.keys.end()) {
        const Span old = k->second.value;
        bytes_.replace(old.begin, old.end - old.begin, value);
    } else {
        insertLine(s->second.insertAt, std::string(key) + "=" + std::string(value));
    }
    buildIndex();
    return true;
}

void IniDocument::forEach(const Visitor& visit) const {
    for (const auto& [sectionName, section] : sections_) {
        for (const auto& [keyName, entry] : section.keys) {
            visit(text(section.name), text(entry.name), text(entry.value));
        }
    }
}

}  // namespace tarvel
