#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TempFolder.h"
#include "platform/posix/IniFileStore.h"
#include "settings/IniDocument.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

using test::TempFolder;

void save(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

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

// Files written while it lives may hold at most `bytes`: a write beyond
// fails as on a full disk, also for root.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST(IniDocument, MatchesNamesWithoutCaseAndTheFirstOneWins) {
    const IniDocument doc(
        "Title=before any section\r\n"
        "[General]\r\n"
        "Title=Plant\r\n"
        "; Title=commented\r\n"
        "[ parameters ]\r\n"
        "  FIRT  =  1  \r\n"
        "firt=2\r\n"
        "just a note\r\n"
        "Last=7\r\n"
        "[PARAMETERS]\r\n"
        "Last=9\r\n"
        "Interval=500\r\n");
    EXPECT_EQ(doc.get("general", "TITLE", "-"), "Plant");
    EXPECT_EQ(doc.get(" Parameters ", " Firt ", "-"), "1");
    EXPECT_EQ(doc.get("Parameters", "Last", "-"), "7");
    // The keys of a repeated section are not seen.
    EXPECT_EQ(doc.get("Parameters", "Interval", "-"), "-");
    EXPECT_EQ(doc.get("Parameters", "just a note", "-"), "-");
    EXPECT_EQ(doc.get("", "Title", "-"), "-");

    // LF and CR LF lines read alike, also mixed in one text.
    const IniDocument mixed("[A]\nx=1\r\ny = two words \n[B]\r\nz=3");
    EXPECT_EQ(mixed.get("a", "x", "-"), "1");
    EXPECT_EQ(mixed.get("a", "y", "-"), "two words");
    EXPECT_EQ(mixed.get("b", "z", "-"), "3");
}

TEST(IniDocument, AbsentGivesTheDefaultAndEmptyGivesEmptyText) {
    const IniDocument doc("[Export]\r\nOut=\r\nKill=   \r\n");
    EXPECT_EQ(doc.get("Export", "Out", "NoName.xml"), "");
    EXPECT_EQ(doc.get("Export", "Kill", "0"), "");
    EXPECT_EQ(doc.get("Export", "Missing", "0"), "0");
    EXPECT_EQ(doc.get("XML", "Encoding", "UTF-8"), "UTF-8");
    EXPECT_EQ(IniDocument().get("Start", "Auto", "0"), "0");
    // As the classic read does, a default loses its trailing blanks.
    EXPECT_EQ(IniDocument().get("Serial_0", "COM", "* "), "*");
}

TEST(IniDocument, CutsLongValuesAndRemovesOneEnclosingPairOfQuotes) {
    const std::string longLine = "1,4,12,1;" + std::string(291, 'v');
    const std::string high = "\xe8\xe0\xf9";  // 8-bit bytes stay as they are
    const IniDocument doc("[P]\r\n001=" + longLine + "\r\n002=\"" + std::string(300, 'q') +
                          "\"\r\n003=\"Roof A\"\r\n004='Roof B'\r\n005=\"half\r\n006=\"a\"b\"\r\n"
                          "007=\"\"\r\n008=\"\r\n009=\"x'\r\n010=" +
                          high + "\r\n");
    EXPECT_EQ(doc.get("P", "001", ""), longLine.substr(0, 254));
    // Unquoted first, then cut.
    EXPECT_EQ(doc.get("P", "002", ""), std::string(254, 'q'));
    EXPECT_EQ(doc.get("P", "003", ""), "Roof A");
    EXPECT_EQ(doc.get("P", "004", ""), "Roof B");
    EXPECT_EQ(doc.get("P", "005", ""), "\"half");
    EXPECT_EQ(doc.get("P", "006", ""), "a\"b");
    EXPECT_EQ(doc.get("P", "007", "-"), "");
    EXPECT_EQ(doc.get("P", "008", ""), "\"");
    EXPECT_EQ(doc.get("P", "009", ""), "\"x'");
    EXPECT_EQ(doc.get("P", "010", ""), high);
}

TEST(IniFileStore, WritesChangeOnlyWhatTheyMust) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    const std::string original =
        "; settings\n"
        "[Start]\n"
        "auto = 0   ; not a comment\n"
        "Min=0\n"
        "\n"
        "\n"
        "[Export]\r\n"
        "Out=C:\\data\\out.xml\r\n"
        "Kill=1";
    save(path, original);
    IniFileStore store;

    ASSERT_TRUE(store.write(path, "START", "Auto", "1"));
    std::string expected =
        "; settings\n[Start]\nauto = 1\n"
        "Min=0\n\n\n[Export]\r\nOut=C:\\data\\out.xml\r\nKill=1";
    EXPECT_EQ(load(path), expected);

    // A new key goes after the last key line of its section.
    ASSERT_TRUE(store.write(path, "Start", "Extra", "x"));
    expected =
        "; settings\n[Start]\nauto = 1\nMin=0\nExtra=x\r\n\n\n[Export]\r\n"
        "Out=C:\\data\\out.xml\r\nKill=1";
    EXPECT_EQ(load(path), expected);

    // An empty value keeps the key; the last line gets its line end first.
    ASSERT_TRUE(store.write(path, "export", "out", ""));
    ASSERT_TRUE(store.write(path, "Export", "Mode", "a"));
    expected =
        "; settings\n[Start]\nauto = 1\nMin=0\nExtra=x\r\n\n\n[Export]\r\n"
        "Out=\r\nKill=1\r\nMode=a\r\n";
    EXPECT_EQ(load(path), expected);
    EXPECT_EQ(store.read(path, "Export", "Out", "NoName.xml"), "");

    // A new section goes at the end.
    ASSERT_TRUE(store.write(path, "General", "Title", "Plant"));
    EXPECT_EQ(load(path), expected + "[General]\r\nTitle=Plant\r\n");
    EXPECT_EQ(store.read(path, "general", "title", ""), "Plant");
    EXPECT_EQ(store.read(path, "Start", "Auto", "0"), "1");

    // A missing file is created, with CR LF lines and the usual mode.
    const std::string fresh = folder.file("New.INI");
    ASSERT_TRUE(store.write(fresh, "Start", "Min", "1"));
    EXPECT_EQ(load(fresh), "[Start]\r\nMin=1\r\n");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(fresh), 0666 & ~mask);
    EXPECT_EQ(folder.entries(), 2u);  // no temporary file left behind
}

TEST(IniFileStore, SeesEditsMadeByAnotherWriter) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    IniFileStore store;
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "none");

    save(path, "[General]\nTitle=Plant\n");
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Plant");
    save(path, "[General]\nTitle=Roof B\n");
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Roof B");

    // Same size, same inode: the modification time tells the edit apart.
    save(path, "[General]\nTitle=Roof C\n");
    const struct timespec times[2] = {{1000, 1}, {1000, 2}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Roof C");

    // The store's own write is seen by the next read, and so is the edit
    // that follows it.
    ASSERT_TRUE(store.write(path, "General", "Title", "Own"));
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Own");
    save(path, "[General]\nTitle=Other\n");
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Other");

    fs::remove(path);
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "none");
}

TEST(IniFileStore, FailedWriteLeavesTheFileAsItWas) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    const std::string original =
        "[Start]\r\nAuto=0\r\n[General]\r\nTitle=" + std::string(200, 't') + "\r\n";
    save(path, original);
    IniFileStore store;
    EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "0");
    {
        FileSizeLimit limit(100);  // as a full disk
        EXPECT_FALSE(store.write(path, "Start", "Auto", "1"));
    }
    EXPECT_EQ(load(path), original);
    EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "0");
    EXPECT_EQ(folder.entries(), 1u);

    EXPECT_FALSE(store.write(folder.file("missing/Tarvel.INI"), "Start", "Auto", "1"));
    EXPECT_FALSE(store.write(path + "/Tarvel.INI", "Start", "Auto", "1"));
    EXPECT_EQ(load(path), original);
    // Names that could not be read back are refused.
    EXPECT_FALSE(store.write(path, "Start", "A=B", "1"));
    EXPECT_FALSE(store.write(path, "Start\n[X]", "Auto", "1"));
    EXPECT_EQ(load(path), original);
}

TEST(IniFileStore, WriteKeepsPermissionsAndFollowsLinks) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    save(path, "[Start]\nAuto=0\n");
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    const std::string link = folder.file("link.INI");
    fs::create_symlink(path, link);

    IniFileStore store;
    ASSERT_TRUE(store.write(link, "Start", "Auto", "1"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(load(path), "[Start]\nAuto=1\n");
    EXPECT_EQ(modeOf(path), 0604u);
}

}  // namespace
}  // namespace tarvel
