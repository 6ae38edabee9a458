#include "platform/posix/PosixOutputFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/AtomicFile.h"

namespace tarvel {

bool PosixOutputFiles::exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PosixOutputFiles::remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool PosixOutputFiles::replace(const std::string& path, const std::string& content,
                               std::string& error) {
    return posix::ReplaceFile(path, content, error);
}

}  // namespace tarvel
