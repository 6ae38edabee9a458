#include "commissioning/Templates.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/Number.h"

namespace tarvel {
namespace {

bool contains(const std::string& text, const std::string& part) {
    return ToUpper(text).find(ToUpper(part)) != std::string::npos;
}

bool setKey(DeviceTemplate& t, const std::string& key, const std::string& value) {
    const std::string k = ToUpper(key);
    if (k == "DESCRIPTION") t.description = value;
    else if (k == "SOURCE") t.source = value;
    else if (k == "VENDOR") t.vendor = value;
    else if (k == "PRODUCT") t.product = value;
    else if (k == "LINE") t.lines.push_back(value);
    else return false;
    return true;
}

}  // namespace

std::optional<DeviceTemplate> ParseTemplate(const std::string& name, const std::string& text,
                                            std::string& error) {
    DeviceTemplate t;
    t.name = name;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == ';') continue;
        const auto equals = trimmed.find('=');
        const std::string key(Trim(trimmed.substr(0, equals)));
        if (equals == std::string_view::npos ||
            !setKey(t, key, std::string(Trim(trimmed.substr(equals + 1))))) {
            error = name + ", riga " + std::to_string(number) + ": chiave sconosciuta \"" + key + "\"";
            return std::nullopt;
        }
    }
    if (t.description.empty() || t.source.empty() || t.lines.empty()) {
        error = name + ": mancano Description, Source o Line";
        return std::nullopt;
    }
    return t;
}

std::vector<DeviceTemplate> LoadTemplates(const std::string& folder,
                                          std::vector<std::string>& errors) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code e;
    for (const auto& entry : fs::directory_iterator(folder, e))
        if (entry.path().extension() == ".tpl") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<DeviceTemplate> templates;
    for (const auto& file : files) {
        std::ifstream in(file);
        std::ostringstream text;
        text << in.rdbuf();
        std::string error;
        if (!in) error = file.string() + ": non leggibile";
        else if (auto t = ParseTemplate(file.stem().string(), text.str(), error))
            templates.push_back(std::move(*t));
        if (!error.empty()) errors.push_back(error);
    }
    return templates;
}

const DeviceTemplate* MatchTemplate(const std::vector<DeviceTemplate>& templates,
                                    const std::map<std::uint8_t, std::string>& identity) {
    const auto vendor = identity.find(0), product = identity.find(1);
    if (vendor == identity.end() || product == identity.end()) return nullptr;
    for (const auto& t : templates)
        if (!t.vendor.empty() && !t.product.empty() && contains(vendor->second, t.vendor) &&
            contains(product->second, t.product))
            return &t;
    return nullptr;
}

std::vector<std::string> TemplateLines(const DeviceTemplate& t, int node) {
    std::vector<std::string> lines;
    for (const auto& line : t.lines) lines.push_back(std::to_string(node) + "," + line);
    return lines;
}

}  // namespace tarvel
