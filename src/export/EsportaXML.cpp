#include "export/EsportaXML.h"

#include <optional>

#include "settings/KeyRules.h"
#include "settings/Number.h"

namespace tarvel {
namespace {

constexpr const char* LineEnd = "\r\n";
constexpr Millis PauseAfterDelete{100};

enum class AnswerKind { Value, Next, Profile, Other };

AnswerKind answerKind(const Risposta& answer) {
    if (answer.reading) return AnswerKind::Value;
    if (answer.kind == LineKind::Next) return AnswerKind::Next;
    if (answer.kind == LineKind::Serial) return AnswerKind::Profile;
    return AnswerKind::Other;
}

// One output file being put together; it reaches the disk whole at close.
class OutputFile {
  public:
    OutputFile(std::string path, const std::string& declaration) : path_(std::move(path)) {
        line(declaration);
        line("  <Dispositivi>");
        line("");
        line("    <Dispositivo>");
    }
    void value(const Reading& reading) {
        text_ += "      ";
        AppendXmlElement(reading, text_);
        text_ += LineEnd;
    }
    void next() {
        line("    </Dispositivo>");
        line("");
        line("    <Dispositivo>");
    }
    void close(ExportContext& ctx, ExportResult& verdict) {
        line("    </Dispositivo>");
        line("");
        line("  </Dispositivi>");
        std::string error;
        if (ctx.files.replace(path_, text_, error))
            verdict.written.push_back(path_);
        else
            verdict.errors.push_back(path_ + ": " + error);
    }

  private:
    void line(const std::string& text) {
        text_ += text;
        text_ += LineEnd;
    }
    std::string path_;
    std::string text_;
};

// An output name without a folder, or with a relative one, is in the
// program folder, whatever the working folder of the process.
std::string inFolder(const std::string& path, const std::string& folder) {
    if (path.empty() || path.front() == '/' || folder.empty()) return path;
    return folder + "/" + path;
}

// The profiles write files of their own as soon as one profile line of
// the answers names a section with an output file.
bool oneFilePerProfile(const OutputSettings& settings) {
    for (const auto& [line, file] : settings.profileFiles)
        if (!file.empty()) return true;
    return false;
}

}  // namespace

void AppendXmlElement(const Reading& reading, std::string& out) {
    out += '<';
    out += reading.name;
    out += '>';
    if (reading.quality == Quality::NotRead)
        out += "-99999";
    else if (const std::optional<std::string> value = ValueText(reading))
        out += *value;
    out += "</";
    out += reading.name;
    out += '>';
}

std::string XmlElement(const Reading& reading) {
    std::string element;
    AppendXmlElement(reading, element);
    return element;
}

std::string AnswerText(const Risposta& answer) {
    return answer.reading ? XmlElement(*answer.reading) : answer.text;
}

std::vector<Reading> CycleReadings(const std::vector<Risposta>& answers,
                                   const OutputSettings& output) {
    const std::vector<int> devices = DevicesOfAnswers(answers, output);
    std::vector<Reading> readings;
    readings.reserve(answers.size());
    std::string profile;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        if (answers[i].kind == LineKind::Serial) profile = answers[i].text;
        if (!answers[i].reading) continue;
        readings.push_back(*answers[i].reading);
        readings.back().device = devices[i];
        readings.back().profile = profile;
    }
    return readings;
}

std::vector<int> DevicesOfLines(const std::vector<RequestLine>& lines,
                                const OutputSettings& output) {
    return DevicesOfAnswers(AnswersOfLines(lines), output);
}

std::vector<Risposta> AnswersOfLines(const std::vector<RequestLine>& lines) {
    std::vector<Risposta> answers;
    answers.reserve(lines.size());
    for (const RequestLine& line : lines) {
        Risposta r{line.kind, {}, std::nullopt};
        if (line.kind == LineKind::Serial) r.text = "Serial_" + line.fields.Codice;
        if (line.kind == LineKind::Read || line.kind == LineKind::Constant) r.reading.emplace();
        answers.push_back(std::move(r));
    }
    return answers;
}

std::vector<int> DevicesOfAnswers(const std::vector<Risposta>& answers,
                                  const OutputSettings& output) {
    const bool perProfile = oneFilePerProfile(output);
    std::vector<int> devices;
    devices.reserve(answers.size());
    int device = 1;
    bool fileOpen = false;  // as EsportaXML opens them, below
    for (const auto& line : answers) {
        const AnswerKind kind = answerKind(line);
        if (kind == AnswerKind::Next ||
            (kind == AnswerKind::Profile && perProfile && fileOpen))
            ++device;
        if (kind != AnswerKind::Other) fileOpen = true;
        devices.push_back(device);
    }
    return devices;
}

void CancellaFile(const std::string& path, ExportContext& ctx) {
    if (ctx.files.exists(path)) {
        ctx.files.remove(path);
        ctx.clock.sleep(PauseAfterDelete);
    }
}

OutputSettings ReadOutputSettings(const std::vector<Risposta>& answers,
                                  const IniReader& readIni, const std::string& folder) {
    OutputSettings imp;
    std::string kill = readIni("Export", "Kill", "0");
    imp.kill = !kill.empty() && kill != "0";
    std::string encoding = readIni("XML", "Encoding", "UTF-8");
    // A value that is no encoding name would put its text into the markup
    // of every file (the load says so once).
    if (encoding.empty() || EncodingProblem(encoding)) encoding = "UTF-8";
    std::string pattern = R"(<?xml version="1.0" encoding="@"?>)";
    for (char c : pattern) imp.declaration += c == '@' ? encoding : std::string(1, c);
    imp.generalFile = readIni("Export", "Out", "");
    if (imp.generalFile.empty()) imp.generalFile = "NoName.xml";
    imp.generalFile = inFolder(imp.generalFile, folder);
    for (const auto& r : answers)
        if (answerKind(r) == AnswerKind::Profile && !imp.profileFiles.contains(r.text))
            imp.profileFiles[r.text] = readIni(r.text, "Out", "");
    return imp;
}

ExportResult EsportaXML(const std::vector<Risposta>& answers, const OutputSettings& imp,
                             ExportContext& ctx) {
    ExportResult verdict;
    auto openOutput = [&](const std::string& path) {
        if (imp.kill) CancellaFile(path, ctx);
        return OutputFile(path, imp.declaration);
    };

    if (!oneFilePerProfile(imp)) {
        OutputFile file = openOutput(imp.generalFile);
        for (std::size_t i = 0; i < answers.size(); ++i) {
            switch (answerKind(answers[i])) {
                case AnswerKind::Value:
                    file.value(*answers[i].reading);
                    break;
                case AnswerKind::Next:
                    file.next();
                    break;
                case AnswerKind::Profile:
                    if (i > 0) file.next();
                    break;
                case AnswerKind::Other:
                    break;
            }
        }
        file.close(ctx, verdict);
        return verdict;
    }

    // One file per serial profile. Answers that come before the first
    // profile line go to the general file, so that nothing read is lost.
    std::optional<OutputFile> file;
    for (const auto& r : answers) {
        AnswerKind kind = answerKind(r);
        if (kind == AnswerKind::Other) continue;
        if (kind == AnswerKind::Profile) {
            if (file) file->close(ctx, verdict);
            const auto out = imp.profileFiles.find(r.text);
            const std::string path = out == imp.profileFiles.end() ? "" : out->second;
            file.emplace(
                openOutput(inFolder(path.empty() ? "NoName.xml" : path, ctx.programFolder)));
            continue;
        }
        if (!file) file.emplace(openOutput(imp.generalFile));
        if (kind == AnswerKind::Value)
            file->value(*r.reading);
        else
            file->next();
    }
    if (file) file->close(ctx, verdict);
    return verdict;
}

}  // namespace tarvel
