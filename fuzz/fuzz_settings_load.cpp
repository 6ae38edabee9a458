// The whole load of the settings, from any text: it never fails visibly,
// the list holds no more lines than Firt to Last, every serial line's
// profile was read once, every unit kept is a safe one, and every problem of [MQTT], [History]
// and [Web] names its section.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "acquisition/ListCheck.h"
#include "app/LoadedSettings.h"
#include "settings/IniDocument.h"
#include "settings/Number.h"
#include "settings/Settings.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

// The settings text in memory, read as the file store reads it.
class TextStore : public tarvel::ProfileStore {
  public:
    explicit TextStore(std::string text) : doc_(std::move(text)) {}
    std::string read(const std::string&, const std::string& section, const std::string& key,
                     const std::string& fallback) override {
        return doc_.get(section, key, fallback);
    }
    bool write(const std::string&, const std::string&, const std::string&,
               const std::string&) override {
        return false;
    }
    std::vector<std::string> keys(const std::string&, const std::string& section) override {
        std::vector<std::string> names;
        doc_.forEach([&](std::string_view s, std::string_view key, std::string_view) {
            if (tarvel::ToUpper(s) == tarvel::ToUpper(section)) names.emplace_back(key);
        });
        return names;
    }

  private:
    tarvel::IniDocument doc_;
};

class NoDialogs : public tarvel::Dialogs {
  public:
    tarvel::Answer messageBox(const std::string&, const std::string&, tarvel::Icon, tarvel::Buttons,
                              tarvel::Answer answer, const std::string&) override {
        return answer;
    }
    std::string inputBox(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TextStore store(std::string(reinterpret_cast<const char*>(data), size));
    NoDialogs dialogs;
    const tarvel::Settings imp(store, dialogs, "/srv/tarvel");
    const tarvel::LoadedSettings s = tarvel::LoadSettings(imp, "host");
    if (!s.list.list) {
        require(s.list.error.cause != tarvel::SettingsErrorCause::None && s.profiles.empty());
        return 0;
    }
    const tarvel::RequestList& list = *s.list.list;
    require(list.first >= 1 && list.last >= 1);
    require(list.lines.size() <=
            static_cast<std::size_t>(std::max(0, list.last - list.first + 1)));
    require(list.interval.count() >= 1 && list.interval.count() <= 60000);
    require(s.profile(0) != nullptr);
    for (const tarvel::RequestLine& line : list.lines) {
        if (line.kind == tarvel::LineKind::Serial && line.profile)
            require(s.profile(*line.profile) != nullptr);
        // A unit kept is one that can go anywhere, on a value's line only.
        require(tarvel::IsSafeUnit(line.unit) && tarvel::Trim(line.unit) == line.unit);
        require(line.unit.empty() || line.kind == tarvel::LineKind::Read ||
                line.kind == tarvel::LineKind::Constant);
    }
    for (const std::string& p : s.mqttProblems) require(p.starts_with("[MQTT] "));
    for (const std::string& p : s.history.problems) require(p.starts_with("[History] "));
    // A page served beyond loopback always asks for credentials.
    for (const std::string& p : s.webProblems) require(p.starts_with("[Web] "));
    if (s.web.on() && s.webProblems.empty() && !tarvel::LoopbackAddress(s.web.bind))
        require(!s.web.user.empty() && !s.web.password.empty());
    for (const std::string& p : s.unreadLines) require(p.starts_with("[Parameters] "));
    return 0;
}
