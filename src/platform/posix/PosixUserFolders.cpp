#include "platform/posix/PosixUserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace tarvel {
namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

}  // namespace

std::string PosixUserFolders::configHome() const {
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return withoutTrailingSlashes(config);
    const std::string home = homeFolder();
    return home.empty() ? std::string() : withoutTrailingSlashes(home) + "/.config";
}

bool PosixUserFolders::createFolder(const std::string& path, std::string& error) {
    std::error_code e;
    std::filesystem::create_directories(path, e);
    if (!e && std::filesystem::is_directory(path, e)) return true;
    error = path + ": " + (e ? e.message() : std::string("not a folder"));
    return false;
}

}  // namespace tarvel
