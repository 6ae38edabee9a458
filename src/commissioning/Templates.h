#pragma once
// Device templates: the request lines of one device family, from its
// maker's public register map, for any node. A template is a text file
// NAME.tpl of "Key=value" lines ("; " starts a comment):
//
//   Description=...   what the device is
//   Source=...        the register map the lines come from
//   Vendor=...        optional: the device identification's vendor name and
//   Product=...       product code contain these texts (case ignored)
//   Line=...          a request line without its node:
//                     function,register,decimals;name;unit (one or more)

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvel {

struct DeviceTemplate {
    std::string name;
    std::string description;
    std::string source;
    std::string vendor;
    std::string product;
    std::vector<std::string> lines;
};

// The template named `name` from its text; nothing with `error` naming the
// line and its cause.
std::optional<DeviceTemplate> ParseTemplate(const std::string& name, const std::string& text,
                                            std::string& error);
// The templates of a folder, by name; each file that cannot be read or
// parsed adds its message to `errors`.
std::vector<DeviceTemplate> LoadTemplates(const std::string& folder,
                                          std::vector<std::string>& errors);
// The template whose vendor and product the identification objects (0
// vendor, 1 product code) contain; nullptr when none does.
const DeviceTemplate* MatchTemplate(const std::vector<DeviceTemplate>& templates,
                                    const std::map<std::uint8_t, std::string>& identity);
// The template's lines for a node: "node," before each.
std::vector<std::string> TemplateLines(const DeviceTemplate& t, int node);

}  // namespace tarvel
