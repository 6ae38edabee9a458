#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempFolder.h"
#include "platform/posix/IniFileStore.h"
#include "settings/IniDocument.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

using namespace test;

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
    // As written, as read: unquoted first, then cut; 8-bit bytes stay as
    // they are.
    const std::string longLine = "1,4,12,1;" + std::string(291, 'v');
    using Q = std::pair<std::string, std::string>;
    for (const auto& [written, read] :
         {Q{longLine, longLine.substr(0, 254)},
          Q{"\"" + std::string(300, 'q') + "\"", std::string(254, 'q')}, Q{"\"Roof A\"", "Roof A"},
          Q{"'Roof B'", "Roof B"}, Q{"\"half", "\"half"}, Q{"\"a\"b\"", "a\"b"}, Q{"\"\"", ""},
          Q{"\"", "\""}, Q{"\"x'", "\"x'"}, Q{"\xe8\xe0\xf9", "\xe8\xe0\xf9"}})
        EXPECT_EQ(IniDocument("[P]\r\nK=" + written + "\r\n").get("P", "K", "-"), read) << written;
}

TEST(IniFileStore, WritesChangeOnlyWhatTheyMust) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    const std::string head = "; settings\n[Start]\nauto = ";
    const std::string tail = "Min=0\n\n\n[Export]\r\nOut=C:\\data\\out.xml\r\nKill=1";
    WriteFile(path, head + "0   ; not a comment\n" + tail);
    IniFileStore store;
    ASSERT_TRUE(store.write(path, "START", "Auto", "1"));
    EXPECT_EQ(ReadFile(path), head + "1\n" + tail);

    // A new key goes after the last key line of its section.
    ASSERT_TRUE(store.write(path, "Start", "Extra", "x"));
    const std::string start = head + "1\nMin=0\nExtra=x\r\n\n\n[Export]\r\n";
    EXPECT_EQ(ReadFile(path), start + "Out=C:\\data\\out.xml\r\nKill=1");

    // An empty value keeps the key; the last line gets its line end first.
    ASSERT_TRUE(store.write(path, "export", "out", ""));
    ASSERT_TRUE(store.write(path, "Export", "Mode", "a"));
    const std::string expected = start + "Out=\r\nKill=1\r\nMode=a\r\n";
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_EQ(store.read(path, "Export", "Out", "NoName.xml"), "");

    // A new section goes at the end.
    ASSERT_TRUE(store.write(path, "General", "Title", "Plant"));
    EXPECT_EQ(ReadFile(path), expected + "[General]\r\nTitle=Plant\r\n");
    EXPECT_EQ(store.read(path, "general", "title", ""), "Plant");
    EXPECT_EQ(store.read(path, "Start", "Auto", "0"), "1");

    // A missing file is created, with CR LF lines and the usual mode.
    const std::string fresh = folder.file("New.INI");
    ASSERT_TRUE(store.write(fresh, "Start", "Min", "1"));
    EXPECT_EQ(ReadFile(fresh), "[Start]\r\nMin=1\r\n");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(ModeOf(fresh), 0666 & ~mask);
    EXPECT_EQ(folder.entries(), 2u);  // no temporary file left behind
}

TEST(IniFileStore, SeesEditsMadeByAnotherWriter) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    IniFileStore store;
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "none");

    WriteFile(path, "[General]\nTitle=Plant\n");
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Plant");
    WriteFile(path, "[General]\nTitle=Roof B\n");
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Roof B");

    // Same size, same inode: the modification time tells the edit apart.
    WriteFile(path, "[General]\nTitle=Roof C\n");
    const struct timespec times[2] = {{1000, 1}, {1000, 2}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Roof C");

    // The store's own write is seen by the next read, and so is the edit
    // that follows it.
    ASSERT_TRUE(store.write(path, "General", "Title", "Own"));
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Own");
    WriteFile(path, "[General]\nTitle=Other\n");
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Other");

    // While a version is held, one load sees one version of the file; the
    // edit shows at the first read after it.
    {
        HeldVersion held(store);
        EXPECT_EQ(store.read(path, "General", "Title", "none"), "Other");
        WriteFile(path, "[General]\nTitle=Saved meanwhile, longer\n");
        EXPECT_EQ(store.read(path, "General", "Title", "none"), "Other");
    }
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "Saved meanwhile, longer");

    fs::remove(path);
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "none");
}

TEST(IniFileStore, FailedWriteLeavesTheFileAsItWas) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    const std::string original =
        "[Start]\r\nAuto=0\r\n[General]\r\nTitle=" + std::string(200, 't') + "\r\n";
    WriteFile(path, original);
    IniFileStore store;
    EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "0");
    {
        FileSizeLimit limit(100);  // as a full disk
        EXPECT_FALSE(store.write(path, "Start", "Auto", "1"));
    }
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "0");
    EXPECT_EQ(folder.entries(), 1u);

    EXPECT_FALSE(store.write(folder.file("missing/Tarvel.INI"), "Start", "Auto", "1"));
    EXPECT_FALSE(store.write(path + "/Tarvel.INI", "Start", "Auto", "1"));
    EXPECT_EQ(ReadFile(path), original);
    // Names that could not be read back are refused.
    EXPECT_FALSE(store.write(path, "Start", "A=B", "1"));
    EXPECT_FALSE(store.write(path, "Start\n[X]", "Auto", "1"));
    EXPECT_EQ(ReadFile(path), original);
}

TEST(IniFileStore, WriteKeepsPermissionsAndFollowsLinks) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    WriteFile(path, "[Start]\nAuto=0\n");
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    const std::string link = folder.file("link.INI");
    fs::create_symlink(path, link);

    IniFileStore store;
    ASSERT_TRUE(store.write(link, "Start", "Auto", "1"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(path), "[Start]\nAuto=1\n");
    EXPECT_EQ(ModeOf(path), 0604u);
}

}  // namespace
}  // namespace tarvel
