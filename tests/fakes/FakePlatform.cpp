#include "FakePlatform.h"

#include <algorithm>

#include "settings/Numero.h"

namespace tarvel::fakes {
namespace {
std::pair<std::string, std::string> keyOf(const std::string& section, const std::string& key) {
    return {Maiuscolo(section), Maiuscolo(key)};
}
}  // namespace

std::string FakeProfileStore::read(const std::string&, const std::string& section,
                                   const std::string& key, const std::string& fallback) {
    ++reads;
    auto it = values_.find(keyOf(section, key));
    return it == values_.end() ? fallback : it->second.substr(0, 254);
}

bool FakeProfileStore::write(const std::string&, const std::string& section,
                             const std::string& key, const std::string& value) {
    if (failWrites) return false;
    set(section, key, value);
    return true;
}

void FakeProfileStore::set(const std::string& section, const std::string& key,
                           const std::string& value) {
    values_[keyOf(section, key)] = value;
}

std::optional<std::string> FakeProfileStore::get(const std::string& section,
                                                 const std::string& key) const {
    auto it = values_.find(keyOf(section, key));
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

Answer FakeDialogs::messageBox(const std::string& title, const std::string& text, Icon icon,
                               Buttons buttons, Answer defaultButton) {
    messages.push_back({title, text, icon, buttons, defaultButton});
    return buttons == Buttons::Ok ? Answer::Ok : answer;
}

std::string FakeDialogs::inputBox(const std::string& prompt, const std::string& title,
                                  const std::string& proposed) {
    inputs.push_back({prompt, title, proposed});
    return typed;
}

bool FakeOutputFiles::remove(const std::string& path) {
    log.push_back("remove " + path);
    return files.erase(path) > 0;
}

bool FakeOutputFiles::replace(const std::string& path, const std::string& content,
                              std::string& error) {
    if (std::find(failing.begin(), failing.end(), path) != failing.end()) {
        error = "Permission denied";
        return false;
    }
    log.push_back("write " + path);
    files[path] = content;
    return true;
}

}  // namespace tarvel::fakes
