#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <tuple>

#include "FakePlatform.h"
#include "TempFolder.h"
#include "platform/posix/PosixOutputFiles.h"
#include "platform/posix/PosixTextFiles.h"
#include "settings/Settings.h"
#include "settings/IniDocument.h"
#include "settings/IniFileStore.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

using namespace test;
using ::testing::HasSubstr;

// Sections and keys match without regard to case or blanks (space, tab, CR,
// LF, vertical tab, form feed), the first one wins, LF and CR LF lines read
// alike, an empty value is empty text, and a default loses its trailing
// blanks, as the classic read does.
TEST(IniDocument, FindsTheValueAKeyHasOrTheDefault) {
    const IniDocument plant(
        "Title=before any section\r\n[General]\r\nTitle=Plant\r\n; Title=commented\r\n"
        "[ parameters ]\r\n  FIRT  =  1  \r\nfirt=2\r\njust a note\r\n"
        "[PARAMETERS]\r\nInterval=500\r\n[Export]\r\nKill=   \r\n[A]\ny = two words \n"
        "[\v\f All blanks \t]\r\n\f\vKey\t \r= \v\fvalue one\f\v \r\n[B]\r\nz=3");
    // Section, key, default and the value read; a repeated section
    // (Parameters/Interval) is not seen.
    using C = std::tuple<const char*, const char*, const char*, const char*>;
    for (const auto& [section, key, fallback, value] :
         {C{"general", "TITLE", "-", "Plant"}, C{" Parameters ", " Firt ", "-", "1"},
          C{"Parameters", "Interval", "-", "-"}, C{"Parameters", "just a note", "-", "-"},
          C{"", "Title", "-", "-"}, C{"Export", "Kill", "0", ""}, C{"Serial_0", "COM", "* ", "*"},
          C{"a", "y", "-", "two words"}, C{"b", "z", "-", "3"},
          C{"all blanks", "key", "-", "value one"},
          C{"All blanks", "Other", " x\t\n\v\f\r ", " x"}})
        EXPECT_EQ(plant.get(section, key, fallback), value) << section << "/" << key;
    // A UTF-8 byte order mark does not hide the first section, and a write
    // keeps it.
    IniDocument marked("\xEF\xBB\xBF[Ports]\r\nCOM1=/dev/ttyUSB0\r\n");
    EXPECT_EQ(marked.get("Ports", "COM1", "-"), "/dev/ttyUSB0");
    ASSERT_TRUE(marked.set("Ports", "COM2", "x"));
    EXPECT_EQ(marked.bytes(), "\xEF\xBB\xBF[Ports]\r\nCOM1=/dev/ttyUSB0\r\nCOM2=x\r\n");

    // As written, as read: unquoted first, then cut; 8-bit bytes stay as
    // they are.
    const std::string longLine = "1,4,12,1;" + std::string(291, 'v');
    using Q = std::pair<std::string, std::string>;
    for (const auto& [written, read] :
         {Q{longLine, longLine.substr(0, 254)},
          Q{"\"" + std::string(300, 'q') + "\"", std::string(254, 'q')}, Q{"'Roof B'", "Roof B"},
          Q{"\"\"", ""}, Q{"\"", "\""}, Q{"\"x'", "\"x'"}, Q{"\xe8\xe0\xf9", "\xe8\xe0\xf9"}})
        EXPECT_EQ(IniDocument("[P]\r\nK=" + written + "\r\n").get("P", "K", "-"), read) << written;
}

TEST(IniFileStore, WritesChangeOnlyWhatTheyMust) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    const std::string head = "; settings\n[Start]\nauto = ";
    WriteFile(path,
              head + "0   ; not a comment\nMin=0\n\n\n[Export]\r\nOut=C:\\data\\out.xml\r\nKill=1");
    // A write through a link changes the file linked to, keeping its mode.
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    const std::string link = folder.file("link.INI");
    fs::create_symlink(path, link);
    PosixTextFiles files;
    IniFileStore store(files);
    // The file is replaced in one step: a new inode takes its place.
    const auto inode = files.identify(path).identity.inode;
    ASSERT_TRUE(store.write(link, "START", "Auto", "1"));
    EXPECT_NE(files.identify(path).identity.inode, inode);
    // A new key goes after the last key line of its section; the last line
    // gets its line end first; a new section goes at the end.
    ASSERT_TRUE(store.write(path, "Start", "Extra", "x"));
    ASSERT_TRUE(store.write(path, "Export", "Mode", "a"));
    ASSERT_TRUE(store.write(path, "General", "Title", "Plant"));
    EXPECT_EQ(ReadFile(path),
              head +
                  "1\nMin=0\nExtra=x\r\n\n\n[Export]\r\nOut=C:\\data\\out.xml\r\nKill=1\r\n"
                  "Mode=a\r\n[General]\r\nTitle=Plant\r\n");
    EXPECT_EQ(ModeOf(path), 0604u);

    // A missing file is created, with CR LF lines, for its owner only (it
    // may hold a password); a menu's rewrite keeps its mode.
    TempFolder program;
    const std::string fresh = program.file("Tarvel.INI");
    ASSERT_TRUE(store.write(fresh, "Start", "Min", "1"));
    EXPECT_EQ(ReadFile(fresh), "[Start]\r\nMin=1\r\n");
    EXPECT_EQ(ModeOf(fresh), 0600u);
    fakes::FakeDialogs dialogs;
    Settings(store, dialogs, program.path().string()).ToggleAutomaticAcquisition();
    EXPECT_EQ(ModeOf(fresh), 0600u);

    // Names that could not be read back are refused, and so is a folder
    // that does not exist.
    EXPECT_FALSE(store.write(fresh, "Start", "A=B", "1"));
    EXPECT_FALSE(store.write(folder.file("missing/Tarvel.INI"), "Start", "Min", "1"));
    EXPECT_EQ(ReadFile(fresh), "[Start]\r\nMin=1\r\nAuto=1\r\n");
}

TEST(IniFileStore, SeesEveryEditAndOneVersionWhileItIsHeld) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    PosixTextFiles files;
    IniFileStore store(files);
    const auto value = [&](const char* key) { return store.read(path, "Start", key, "-"); };
    EXPECT_EQ(value("Auto"), "-");

    WriteFile(path, "[Start]\r\nAuto=1\r\nMin=0\r\n");
    EXPECT_EQ(value("Auto"), "1");

    // Same size, same inode: the modification time tells the edit apart.
    WriteFile(path, "[Start]\r\nAuto=2\r\nMin=0\r\n");
    const struct timespec times[2] = {{1000, 1}, {1000, 2}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(value("Auto"), "2");

    // A held version is the one of its first read.
    {
        HeldVersion held(store);
        WriteFile(path, "[Start]\r\nAuto=4\r\n");
        EXPECT_EQ(value("Auto"), "4");
        WriteFile(path, "[Start]\r\nAuto=55\r\n");
        EXPECT_EQ(value("Auto"), "4");
    }
    EXPECT_EQ(value("Auto"), "55");

    // The store's own write is read back, and the edit that follows it is
    // seen; a failed write changes nothing.
    ASSERT_TRUE(store.write(path, "Start", "Min", "1"));
    EXPECT_EQ(value("Min"), "1");
    WriteFile(path, "[Start]\r\nAuto=6\r\nMin=1\r\n");
    EXPECT_EQ(value("Auto"), "6");
    {
        FileSizeLimit full(8);  // as on a full disk
        EXPECT_FALSE(store.write(path, "Start", "Min", "9"));
    }
    EXPECT_EQ(value("Min"), "1");

    // A file that cannot be read (a folder is refused alike) gives the
    // defaults, not the ones read before, and is not replaced; reading a
    // named pipe does not wait.
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(value("Min"), "-");
    EXPECT_FALSE(store.write(path, "Start", "Min", "1"));
    EXPECT_TRUE(fs::is_fifo(path));
}

TEST(PosixOutputFiles, ReplaceWritesAllOrNothingAndSparesSpecialTargets) {
    TempFolder folder;
    const std::string path = folder / "NoName.xml";
    PosixOutputFiles files;
    // "replaced", or why not.
    const auto replace = [&](const std::string& target, const std::string& bytes) {
        std::string error;
        return files.replace(target, bytes, error) ? "replaced" : error;
    };
    const std::string bigger(100000, 'x');
    ASSERT_EQ(replace(path, bigger), "replaced");
    EXPECT_TRUE(files.exists(path));
    EXPECT_EQ(ReadFile(path), bigger);
    EXPECT_TRUE(files.remove(path) && !files.remove(path)) << "the second finds nothing";
    EXPECT_FALSE(files.exists(folder / ""));  // a folder is not a file

    // A failed replace keeps the old file and says why; a write that runs
    // out of room, as on a full disk.
    ASSERT_EQ(replace(path, "<old/>"), "replaced");
    EXPECT_THAT(replace(folder / "missing/NoName.xml", "n"), HasSubstr("No such file"));
    {
        FileSizeLimit limit(64);
        EXPECT_THAT(replace(path, std::string(1000, 'n')), HasSubstr("File too large"));
    }
    EXPECT_EQ(ReadFile(path), "<old/>");
    EXPECT_EQ(folder.entries(), 1u);  // the temporary file is gone

    // Targets that are no plain file (a named pipe here; a device takes the
    // same way) are written into in place and never deleted, a pipe without
    // a reader fails at once, a dangling link stays a link, and the settings
    // file is never an output. Temporary files that a killed writer left
    // are removed.
    const std::string pipe = folder / "pipe.xml";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_THAT(replace(pipe, "<a/>"), HasSubstr("no reader"));
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(replace(pipe, "<b/>"), "replaced");
    char got[8] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 4);
    EXPECT_STREQ(got, "<b/>");
    ::close(reader);
    EXPECT_TRUE(files.remove(pipe));
    EXPECT_TRUE(fs::is_fifo(pipe));

    fs::create_symlink("later.xml", folder / "link.xml");
    EXPECT_EQ(replace(folder / "link.xml", "<c/>"), "replaced");
    EXPECT_TRUE(fs::is_symlink(folder / "link.xml"));
    EXPECT_EQ(ReadFile(folder / "later.xml"), "<c/>");

    const std::string settings = folder / "Tarvel.INI";
    WriteFile(settings, "[Start]\r\n");
    files.protect(settings);
    fs::create_symlink(settings, folder / "alias.xml");
    EXPECT_THAT(replace(folder / "alias.xml", "<d/>"), HasSubstr("settings file"));
    EXPECT_EQ(ReadFile(settings), "[Start]\r\n");

    // 99999999 is beyond any process id; the parent process runs.
    const std::string stale = folder / ".out.xml.99999999-0.tmp";
    const std::string live = folder / (".out.xml." + std::to_string(::getppid()) + "-0.tmp");
    WriteFile(stale, "x");
    WriteFile(live, "y");
    EXPECT_EQ(replace(folder / "out.xml", "<e/>"), "replaced");
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
}

}  // namespace
}  // namespace tarvel
