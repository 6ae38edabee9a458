// The published payloads from arbitrary names and values: the message of a
// cycle and the discovery configs. The input is split at newlines: the
// topic, the client identifier, then one value a line, whose first byte
// picks its kind (its low two bits: number, text, missing, integer with
// decimals from bits 3 to 7) and whether a new device begins (bit 2); the
// name and the value text are split at the first '='. Every payload must be one JSON object by a
// reader of its own here (RFC 8259, strings checked as UTF-8), holding the names in order with
// their values: null for a missing one, a number equal to the text's for a number (and the
// history's double the one strtod reads from the output's text), else the text itself (8-bit text
// that is not UTF-8 read as Latin-1).

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "publish/Json.h"
#include "publish/Publisher.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

// A JSON value as far as the checks need it.
struct Member;
struct Value {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    std::string text;             // a string decoded to UTF-8, a number as written
    std::vector<Member> members;  // object members, array items (without a key)
};
struct Member {
    std::string key;
    Value value;
};

class Reader {
  public:
    explicit Reader(std::string_view text) : s_(text) {}
    // The one value of the whole text.
    std::optional<Value> document() {
        Value v;
        if (!value(v, 0)) return std::nullopt;
        blanks();
        if (i_ != s_.size()) return std::nullopt;
        return v;
    }

  private:
    void blanks() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }
    bool take(char c) {
        blanks();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    bool value(Value& v, int depth) {
        if (depth > 32) return false;
        blanks();
        if (i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '{') return object(v, depth);
        if (c == '[') return array(v, depth);
        if (c == '"') {
            v.kind = Value::String;
            return string(v.text);
        }
        if (word("null")) return true;
        if (word("true") || word("false")) {
            v.kind = Value::Bool;
            return true;
        }
        v.kind = Value::Number;
        return number(v.text);
    }
    bool object(Value& v, int depth) {
        v.kind = Value::Object;
        ++i_;
        if (take('}')) return true;
        do {
            std::string name;
            Value member;
            blanks();
            if (!string(name) || !take(':') || !value(member, depth + 1)) return false;
            v.members.push_back({std::move(name), std::move(member)});
        } while (take(','));
        return take('}');
    }
    bool array(Value& v, int depth) {
        v.kind = Value::Array;
        ++i_;
        if (take(']')) return true;
        do {
            Value item;
            if (!value(item, depth + 1)) return false;
            v.members.push_back({std::string(), std::move(item)});
        } while (take(','));
        return take(']');
    }
    bool digits() {
        const std::size_t start = i_;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        return i_ > start;
    }
    bool number(std::string& out) {
        const std::size_t start = i_;
        if (i_ < s_.size() && s_[i_] == '-') ++i_;
        if (i_ < s_.size() && s_[i_] == '0')
            ++i_;
        else if (!digits())
            return false;
        if (i_ < s_.size() && s_[i_] == '.' && (++i_, !digits())) return false;
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
            if (!digits()) return false;
        }
        out = s_.substr(start, i_ - start);
        return true;
    }
    static void utf8(std::uint32_t code, std::string& out) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    // One UTF-8 character, copied; false when the bytes are not one.
    bool character(std::string& out) {
        const auto c = static_cast<unsigned char>(s_[i_]);
        const int n = c < 0x80                 ? 0
                      : c >= 0xC2 && c <= 0xDF ? 1
                      : c >= 0xE0 && c <= 0xEF ? 2
                      : c >= 0xF0 && c <= 0xF4 ? 3
                                               : -1;
        if (n < 0 || i_ + static_cast<std::size_t>(n) >= s_.size()) return false;
        std::uint32_t code = c & (0x7Fu >> n);
        for (int k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(s_[i_ + static_cast<std::size_t>(k)]);
            if ((d & 0xC0) != 0x80) return false;
            code = code << 6 | (d & 0x3F);
        }
        static constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        out.append(s_.substr(i_, static_cast<std::size_t>(n) + 1));
        i_ += static_cast<std::size_t>(n) + 1;
        return true;
    }
    bool string(std::string& out) {
        if (i_ >= s_.size() || s_[i_] != '"') return false;
        ++i_;
        while (i_ < s_.size() && s_[i_] != '"') {
            const auto c = static_cast<unsigned char>(s_[i_]);
            if (c < 0x20) return false;
            if (c != '\\') {
                if (!character(out)) return false;
                continue;
            }
            if (++i_ >= s_.size()) return false;
            const char e = s_[i_++];
            const std::string_view simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
            if (const auto k = simple.find(e); k != std::string_view::npos) {
                out += meant[k];
            } else if (e == 'u' && i_ + 4 <= s_.size()) {
                const std::string hex(s_.substr(i_, 4));
                if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                    return false;
                const auto code =
                    static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
                if (code >= 0xD800 && code <= 0xDFFF) return false;  // never written here
                utf8(code, out);
                i_ += 4;
            } else {
                return false;
            }
        }
        if (i_ >= s_.size()) return false;
        ++i_;
        return true;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

// Whether the bytes are UTF-8, by the reader's own check of a string.
bool IsUtf8(std::string_view s) {
    std::string quoted = "\"";
    for (const char c : s)  // what a string must escape, in plain letters
        quoted += static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\' ? 'x' : c;
    quoted += '"';
    return Reader(quoted).document().has_value();
}

// The text as the payload should carry it.
std::string Expected(std::string_view text) {
    if (IsUtf8(text)) return std::string(text);
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

const Value* Member(const Value& object, std::string_view name) {
    for (const auto& [key, value] : object.members)
        if (key == name) return &value;
    return nullptr;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return lines;
        start = end + 1;
    }
}

// Each device's message: its values, in order, as they were given.
void CheckCycle(const tarvel::MqttSettings& imp, const std::vector<tarvel::Reading>& readings) {
    const auto messages = tarvel::CycleMessages(imp, "2026-12-06T21:45:03.120Z", 12, readings);
    std::size_t next = 0;
    for (const tarvel::MqttMessage& m : messages) {
        const std::optional<Value> doc = Reader(m.payload).document();
        require(doc && doc->kind == Value::Object);
        const Value* values = Member(*doc, "values");
        require(values && values->kind == Value::Object);
        for (const auto& [name, value] : values->members) {
            require(next < readings.size());
            const tarvel::Reading& r = readings[next++];
            require(name == Expected(r.name));
            const std::optional<std::string> text = tarvel::ValueText(r);
            if (!text) {
                require(value.kind == Value::Null);
            } else if (!r.constant) {
                require(value.kind == Value::Number);
                const double a = std::strtod(value.text.c_str(), nullptr);
                const double b = std::strtod(text->c_str(), nullptr);
                require(a == b);
                // The history's double is the one strtod reads from the text.
                const std::optional<double> h = tarvel::ValueNumber(r);
                require(std::isfinite(b) ? h == b : !h);
            } else {
                require(value.kind == Value::String && value.text == Expected(*text));
            }
        }
    }
    require(next == readings.size());
}

// A number read (a finite double; with kind 3 an integer, its decimals
// from the high bits), a constant, or a failed read.
void SetValue(tarvel::Reading& v, unsigned kind, const std::string& text) {
    const double number = std::strtod(text.c_str(), nullptr);
    v.quality = (kind & 3) % 3 == 2 ? tarvel::Quality::Failed : tarvel::Quality::Good;
    if ((kind & 3) % 3 == 1) v.constant = text;
    if ((kind & 3) % 3 == 0 && std::isfinite(number)) v.number = tarvel::ParsedNumber{number};
    if ((kind & 3) == 3 && v.number) {
        const bool meno = !text.empty() && text[0] == '-';
        const std::uint64_t magnitude = std::strtoull(text.c_str() + meno, nullptr, 10);
        const bool negative = meno && magnitude != 0;
        const double value = static_cast<double>(magnitude);
        v.number = tarvel::ParsedNumber{negative ? -value : value, true, negative, magnitude};
        v.decimals = static_cast<std::int16_t>((kind >> 3) - 16);
    }
    if (v.number && !std::isfinite(tarvel::Scale(v.number->value, v.decimals)))
        v.quality = tarvel::Quality::NotFinite;
    if ((kind & 3) % 3 == 0 && !std::isfinite(number)) v.quality = tarvel::Quality::NotFinite;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> lines =
        Lines(std::string_view(reinterpret_cast<const char*>(data), size));
    if (lines.size() < 2) return 0;
    tarvel::MqttSettings imp;
    imp.topic = lines[0];
    imp.clientId = lines[1];
    std::vector<tarvel::Reading> readings;
    std::vector<tarvel::RequestLine> requestLines;
    std::vector<int> devices;  // the device of each line
    int device = 1;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        const auto kind = static_cast<unsigned char>(lines[i][0]);
        const std::string_view rest = lines[i].substr(1);
        const std::size_t equal = rest.find('=');
        tarvel::Reading v;
        if (kind & 4) {
            ++device;
            tarvel::RequestLine next;
            next.kind = tarvel::LineKind::Next;
            requestLines.push_back(next);
            devices.push_back(device);
        }
        v.device = device;
        v.name = rest.substr(0, equal);
        SetValue(v, kind,
                 std::string(equal != std::string_view::npos ? rest.substr(equal + 1) : ""));
        readings.push_back(v);
        tarvel::RequestLine line;
        line.kind = tarvel::LineKind::Read;
        line.shownFields.Descrizione = v.name;
        requestLines.push_back(line);
        devices.push_back(device);
    }
    CheckCycle(imp, readings);
    // A config per value: JSON, naming the value as it was given.
    for (const tarvel::MqttMessage& m : tarvel::DiscoveryMessages(imp, requestLines, devices)) {
        const std::optional<Value> doc = Reader(m.payload).document();
        require(doc && doc->kind == Value::Object);
        const Value* name = Member(*doc, "name");
        require(name && name->kind == Value::String);
        const Value* tpl = Member(*doc, "value_template");
        require(tpl && tpl->kind == Value::String &&
                tpl->text.find(tarvel::JsonString(name->text)) != std::string::npos);
    }
    return 0;
}
