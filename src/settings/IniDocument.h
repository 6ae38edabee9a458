#pragma once
// An INI text held as bytes, read and edited with the behaviour of the
// classic profile functions:
//
// - "[name]" starts a section; the name is the text between "[" and the last
//   "]" of the line. A key line is "key=value", cut at its first "=". Lines
//   whose first non-blank character is ";" are comments. Lines without "="
//   and text before the first section are not looked at.
// - Section and key names match without regard to ASCII case; blanks (as
//   Trim has them: space, tab, CR, LF, vertical tab, form feed) around names
//   and values do not count.
//   For a duplicated section or key the first one wins: the keys of a later
//   copy of a section are not seen.
// - Reading: an absent section or key gives the caller's default (without
//   its trailing blanks); a present key with an empty value gives empty
//   text. One pair of matching quotes (" or ') that encloses the whole value
//   is removed, then the result is cut to its first 254 bytes.
// - Writing changes only the bytes of the value it replaces; a new key goes
//   after the last key line of its section, a new section at the end of the
//   text. Added lines end in CR LF. Either LF or CR LF is read.
// - Bytes pass through unchanged: no transcoding, 8-bit clean.
//
// The text is indexed in one pass, so every lookup costs one hash probe.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tarvel {

class IniDocument {
  public:
    // The longest value a read returns, in bytes.
    static constexpr std::size_t MaxValueLength = 254;

    IniDocument() = default;
    explicit IniDocument(std::string bytes);

    const std::string& bytes() const { return bytes_; }

    // The value as a profile read returns it: unquoted, cut to
    // MaxValueLength; the fallback when the section or key is absent.
    std::string get(std::string_view section, std::string_view key,
                    std::string_view fallback) const;

    // The value as it stands in the text, blanks around it removed; nothing
    // when the section or key is absent.
    std::optional<std::string_view> find(std::string_view section, std::string_view key) const;

    // Writes one value, adding the section and the key when absent. A value
    // is one line: it is written up to its first CR or LF. False, with the
    // text unchanged, for names that cannot be read back: a section name
    // with CR or LF, a key name with "=", CR or LF or that begins with ";"
    // or "[".
    bool set(std::string_view section, std::string_view key, std::string_view value);

    // Every key that a read can see, with its section and key names as
    // written and its value as find() gives it.
    using Visitor =
        std::function<void(std::string_view section, std::string_view key, std::string_view value)>;
    void forEach(const Visitor& visit) const;

  private:
    struct Span {
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    struct Entry {
        Span name;
        Span value;
    };
    struct Section {
        Span name;
        std::unordered_map<std::string, Entry> keys;  // by case-folded name
        std::size_t insertAt = 0;                     // where a new key line goes
    };

    void buildIndex();
    void indexLine(std::size_t begin, std::size_t end, std::size_t next, Section*& current);
    const Entry* lookup(std::string_view section, std::string_view key) const;
    std::string_view text(Span span) const;
    void insertLine(std::size_t at, std::string line);

    std::string bytes_;
    std::unordered_map<std::string, Section> sections_;  // by case-folded name
};

}  // namespace tarvel
