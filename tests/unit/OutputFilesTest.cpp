#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TempFolder.h"
#include "platform/posix/PosixOutputFiles.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

using test::TempFolder;

std::string load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(PosixOutputFiles, ReplacePutsTheWholeContentAndKeepsTheMode) {
    TempFolder folder;
    const std::string path = folder.file("NoName.xml");
    PosixOutputFiles files;
    std::string error;
    EXPECT_FALSE(files.exists(path));

    ASSERT_TRUE(files.replace(path, "<a>1</a>\r\n", error)) << error;
    EXPECT_TRUE(files.exists(path));
    EXPECT_EQ(load(path), "<a>1</a>\r\n");

    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const std::string bigger(100000, 'x');
    ASSERT_TRUE(files.replace(path, bigger, error)) << error;
    EXPECT_EQ(load(path), bigger);
    EXPECT_EQ(modeOf(path), 0640u);
    ASSERT_TRUE(files.replace(path, "", error)) << error;
    EXPECT_EQ(load(path), "");
    EXPECT_EQ(folder.entries(), 1u);

    EXPECT_TRUE(files.remove(path));
    EXPECT_FALSE(files.exists(path));
    EXPECT_FALSE(files.remove(path));
    EXPECT_FALSE(files.exists(folder.file("")));  // a folder is not a file
}

TEST(PosixOutputFiles, FailedReplaceKeepsTheOldFileAndSaysWhy) {
    TempFolder folder;
    const std::string path = folder.file("out.xml");
    PosixOutputFiles files;
    std::string error;
    ASSERT_TRUE(files.replace(path, "<old/>", error));

    EXPECT_FALSE(files.replace(folder.file("missing/out.xml"), "<new/>", error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(files.replace(path + "/out.xml", "<new/>", error));
    EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;

    // A write that runs out of room, as on a full disk.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    bool replaced = files.replace(path, std::string(1000, 'n'), error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(replaced);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(load(path), "<old/>");
    EXPECT_EQ(folder.entries(), 1u);  // the temporary file is gone
}

}  // namespace
}  // namespace tarvel
