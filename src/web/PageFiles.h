#pragma once
// The page's files (src/web/page/), compiled into the program: nothing is
// read from the disk to serve them.

#include <optional>
#include <string_view>

namespace tarvel {

// The bytes of the file with that name ("index.html"); nothing for any
// other name.
std::optional<std::string_view> PageText(std::string_view name);

}  // namespace tarvel
