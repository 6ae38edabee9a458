#pragma once
// In-memory stand-ins for the platform services, and one bundle of all of
// them for the core under test.

#include <algorithm>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "FakeClock.h"
#include "FakeSerialPort.h"
#include "app/Program.h"
#include "platform/DesktopShell.h"
#include "platform/Dialogs.h"
#include "platform/OutputFiles.h"
#include "platform/ProgramIdentity.h"
#include "settings/Number.h"
#include "settings/ProfileStore.h"

namespace tarvel::fakes {

// Settings held in memory: names without regard to case, values as given.
class FakeProfileStore : public ProfileStore {
  public:
    std::string read(const std::string&, const std::string& section, const std::string& key,
                     const std::string& fallback) override {
        ++reads;
        return get(section, key).value_or(fallback).substr(0, 254);
    }
    bool write(const std::string&, const std::string& section, const std::string& key,
               const std::string& value) override {
        set(section, key, value);
        return true;
    }
    void set(const std::string& section, const std::string& key, const std::string& value) {
        values_[{ToUpper(section), ToUpper(key)}] = value;
    }
    // The value as stored, or nothing.
    std::optional<std::string> get(const std::string& section, const std::string& key) const {
        auto it = values_.find({ToUpper(section), ToUpper(key)});
        return it == values_.end() ? std::nullopt : std::optional(it->second);
    }
    int reads = 0;

  private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

struct ShownMessage {
    std::string title, text;
    Icon icon;
    Buttons buttons;
    Answer defaultButton = Answer::Ok;
    bool operator==(const ShownMessage&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const ShownMessage& m) {
        return os << m.title << ": " << m.text;
    }
};

struct AskedInput {
    std::string prompt, title, proposed;
};

class FakeDialogs : public Dialogs {
  public:
    Answer messageBox(const std::string& title, const std::string& text, Icon icon, Buttons buttons,
                      Answer defaultButton, const std::string& details) override {
        messages.push_back({title, text, icon, buttons, defaultButton});
        this->details.push_back(details);
        return buttons == Buttons::Ok ? Answer::Ok : answer;
    }
    std::string inputBox(const std::string& prompt, const std::string& title,
                         const std::string& proposed) override {
        inputs.push_back({prompt, title, proposed});
        return typed;
    }
    std::vector<ShownMessage> messages;
    std::vector<std::string> details;  // of each message
    std::vector<AskedInput> inputs;
    Answer answer = Answer::No;  // for Yes/No questions
    std::string typed;           // what the input box returns
};

class FakeIdentity : public ProgramIdentity {
  public:
    std::string programFolder() const override { return folder; }
    std::string executableName() const override { return "Tarvel"; }
    std::string executablePath() const override { return "/opt/tarvel/Tarvel"; }
    int versionMajor() const override { return 1; }
    int versionMinor() const override { return 0; }
    int versionRevision() const override { return 0; }
    std::string copyright() const override { return "Tarvel team - all rights reserved"; }
    std::string folder = "/opt/tarvel";
};

class FakeShell : public DesktopShell {
  public:
    bool openInEditor(const std::string& path) override { return record("openInEditor " + path); }
    std::string autostartCommand(const std::string& name) override {
        return autostart.count(name) ? autostart[name] : std::string();
    }
    bool writeAutostart(const std::string& name, const std::string& executable) override {
        if (record("writeAutostart " + name)) autostart[name] = executable;
        return works;
    }
    bool removeAutostart(const std::string& name) override {
        if (record("removeAutostart " + name)) autostart.erase(name);
        return works;
    }
    bool createDesktopShortcut(const std::string& name, const std::string& executable,
                               const std::string& workingFolder) override {
        return record("createDesktopShortcut " + name + " " + executable + " " + workingFolder);
    }
    bool deleteDesktopShortcut(const std::string& name) override {
        return record("deleteDesktopShortcut " + name);
    }
    bool openMailLink(const std::string& link) override { return record("openMailLink " + link); }
    std::vector<std::string> calls;                // every operation but the reads, in order
    std::map<std::string, std::string> autostart;  // name -> command
    bool works = true;

  private:
    bool record(std::string call) {
        calls.push_back(std::move(call));
        return works;
    }
};

// Output files in memory; a path can be made to fail.
class FakeOutputFiles : public OutputFiles {
  public:
    bool exists(const std::string& path) override { return files.count(path) > 0; }
    bool remove(const std::string& path) override {
        log.push_back("remove " + path);
        return files.erase(path) > 0;
    }
    bool replace(const std::string& path, const std::string& content, std::string& error) override {
        if (std::count(failing.begin(), failing.end(), path) > 0) {
            error = "Permission denied";
            return false;
        }
        log.push_back("write " + path);
        files[path] = content;
        return true;
    }
    std::map<std::string, std::string> files;
    std::vector<std::string> failing;  // paths whose writes fail
    std::vector<std::string> log;      // "remove path" / "write path"
};

// Every fake, wired into one Platform.
struct FakePlatform {
    FakeClock clock;
    FakeSerialPort port{clock};
    FakeProfileStore ini;
    FakeDialogs dialogs;
    FakeIdentity identity;
    FakeShell shell;
    FakeOutputFiles files;
    // With the publishing and the history when given.
    Platform platform(MqttClient* mqtt = nullptr, Journal* journal = nullptr,
                            HistoryStore* history = nullptr, const WallClock* wall = nullptr) {
        return {ini, clock, dialogs, identity, port, files, mqtt, journal, history, wall};
    }
};

}  // namespace tarvel::fakes
