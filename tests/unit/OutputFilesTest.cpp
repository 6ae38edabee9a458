#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempFolder.h"
#include "platform/posix/PosixOutputFiles.h"

namespace tarvel {
namespace {

using namespace test;

TEST(PosixOutputFiles, ReplacePutsTheWholeContentAndKeepsTheMode) {
    TempFolder folder;
    const std::string path = folder.file("NoName.xml");
    PosixOutputFiles files;
    std::string error;
    EXPECT_FALSE(files.exists(path));

    ASSERT_TRUE(files.replace(path, "<a>1</a>\r\n", error)) << error;
    EXPECT_TRUE(files.exists(path));
    EXPECT_EQ(ReadFile(path), "<a>1</a>\r\n");

    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const std::string bigger(100000, 'x');
    ASSERT_TRUE(files.replace(path, bigger, error)) << error;
    EXPECT_EQ(ReadFile(path), bigger);
    EXPECT_EQ(ModeOf(path), 0640u);
    ASSERT_TRUE(files.replace(path, "", error)) << error;
    EXPECT_EQ(ReadFile(path), "");
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
    bool replaced = false;
    {
        FileSizeLimit limit(64);
        replaced = files.replace(path, std::string(1000, 'n'), error);
    }
    EXPECT_FALSE(replaced);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(path), "<old/>");
    EXPECT_EQ(folder.entries(), 1u);  // the temporary file is gone
}

}  // namespace
}  // namespace tarvel
