// The XML output of a cycle from arbitrary answer lines. The first byte
// holds switches (bit 0: Kill, bit 1: profiles of even-length names have
// their own Out file, bit 2: the files exist already) and, in its top five
// bits, the length of the encoding name that follows; the rest is split at
// newlines into the answer lines. Every file written starts with the XML
// declaration, naming the encoding when it is a name (letters, digits, ".",
// "_", "-", ":") and UTF-8 otherwise, every value line reaches a file, there is at most one file
// more than there are profile lines, and the output is never larger than
// its input plus the fixed text around it.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/EsportaXML.h"
#include "settings/Number.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

class RecordingFiles : public tarvel::OutputFiles {
  public:
    explicit RecordingFiles(bool present) : present_(present) {}
    bool exists(const std::string&) override { return present_; }
    bool remove(const std::string&) override { return true; }
    bool replace(const std::string& path, const std::string& content, std::string&) override {
        written.push_back({path, content});
        return true;
    }
    struct File {
        std::string path;
        std::string content;
    };
    std::vector<File> written;

  private:
    bool present_;
};

class StillClock : public tarvel::Clock {
  public:
    tarvel::TimePoint now() const override { return {}; }
    void sleep(tarvel::Millis) override {}
    std::unique_ptr<tarvel::Timer> createTimer() override { return nullptr; }
};

bool isEncodingName(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
               c == ':';
    });
}

bool isProfileLine(const std::string& line) {
    return tarvel::ToUpper(std::string_view(line).substr(0, 6)) == "SERIAL";
}

// The fixed text, worked out from what the writer puts around the lines
// (every line of the file ends with CR LF, 2 bytes):
//   a file opens with the declaration <?xml version="1.0" encoding="E"?>
//   (33 bytes + the encoding) + 2, "  <Dispositivi>" 15 + 2, an empty line
//   2 and "    <Dispositivo>" 17 + 2: 73 + encoding;
//   it closes with "    </Dispositivo>" 18 + 2, an empty line 2 and
//   "  </Dispositivi>" 16 + 2: 40. So a file costs 113 + encoding.
//   A value line gets 6 blanks in front and CR LF behind: 8 more than
//   itself. A next-device line, or a profile line that does not open a file
//   of its own, closes the device and opens the next: 20 + 2 + 19 = 41,
//   for a line of at least 1 byte ("%"; a profile line has 6 or more).
//   Any other line writes nothing.
// So no line adds more than 40 besides its own bytes and the files it
// opens, and every file holds at least its fixed text.
constexpr std::size_t FilePart = 113;
constexpr std::size_t PerLine = 40;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t switches = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t encodingLength = std::min<std::size_t>(switches >> 3, rest.size());
    const std::string encoding(rest.substr(0, encodingLength));
    rest.remove_prefix(encodingLength);

    std::vector<std::string> lines;
    std::size_t profileLines = 0;
    for (;;) {
        const auto end = rest.find('\n');
        lines.emplace_back(rest.substr(0, end));
        if (isProfileLine(lines.back())) ++profileLines;
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }

    // Each line as the cycle gives it: "<name" a constant's reading (its
    // element then stands for the line), "%" a next-device line, a profile
    // line, or any other line.
    std::vector<tarvel::Risposta> answers;
    for (std::string& line : lines) {
        tarvel::Risposta r{tarvel::LineKind::Wait, line, std::nullopt};
        if (isProfileLine(line)) r.kind = tarvel::LineKind::Serial;
        if (!line.empty() && line[0] == '%') r.kind = tarvel::LineKind::Next;
        if (!line.empty() && line[0] == '<') {
            tarvel::Reading& reading = r.reading.emplace();
            reading.name = line.substr(1);
            reading.quality = tarvel::Quality::Good;
            reading.constant = "";
            line = tarvel::XmlElement(reading);
        }
        answers.push_back(std::move(r));
    }

    RecordingFiles files(switches & 4);
    StillClock clock;
    const tarvel::IniReader settings = [&](const std::string& section, const std::string& key,
                                            const std::string& fallback) {
        if (section == "Export" && key == "Kill") return std::string(switches & 1 ? "1" : "0");
        if (section == "XML" && key == "Encoding") return encoding;
        if (key == "Out" && (switches & 2) && isProfileLine(section) && section.size() % 2 == 0)
            return "out" + std::to_string(section.size()) + ".xml";
        return fallback;
    };
    tarvel::ExportContext ctx{files, clock, "program"};
    const tarvel::ExportResult result =
        tarvel::EsportaXML(answers, tarvel::ReadOutputSettings(answers, settings, "program"), ctx);

    require(result.errors.empty());
    require(result.written.size() == files.written.size());
    require(!files.written.empty() && files.written.size() <= profileLines + 1);

    const std::string shown = encoding.empty() || !isEncodingName(encoding) ? "UTF-8" : encoding;
    const std::string declaration = R"(<?xml version="1.0" encoding=")" + shown + R"("?>)";
    std::size_t output = 0;
    for (const auto& file : files.written) {
        require(file.content.rfind(declaration + "\r\n", 0) == 0);
        output += file.content.size();
    }
    for (const std::string& line : lines) {
        if (line.empty() || line[0] != '<') continue;
        bool found = false;
        for (const auto& file : files.written)
            found = found || file.content.find("      " + line + "\r\n") != std::string::npos;
        require(found);
    }

    std::size_t input = 0;
    for (const std::string& line : lines) input += line.size();
    const std::size_t fixed = files.written.size() * (FilePart + shown.size());
    require(output >= fixed);
    require(output <= fixed + PerLine * lines.size() + input);
    return 0;
}
