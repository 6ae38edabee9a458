#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "platform/posix/PosixOutputFiles.h"
#include "platform/posix/PosixTextFiles.h"
#include "settings/IniDocument.h"
#include "settings/IniFileStore.h"
#include "settings/Numero.h"

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

    // A UTF-8 byte order mark does not hide the first section, and a write
    // keeps it.
    IniDocument marked("\xEF\xBB\xBF[Ports]\r\nCOM1=/dev/ttyUSB0\r\n");
    EXPECT_EQ(marked.get("Ports", "COM1", "-"), "/dev/ttyUSB0");
    ASSERT_TRUE(marked.set("Ports", "COM2", "x"));
    EXPECT_EQ(marked.bytes(), "\xEF\xBB\xBF[Ports]\r\nCOM1=/dev/ttyUSB0\r\nCOM2=x\r\n");

    // Blanks are space, tab, CR, LF, vertical tab and form feed, in the text
    // and in the names and defaults a caller gives.
    const IniDocument blanks("[\v\f All blanks \t]\r\n\f\vKey\t \r= \v\fvalue one\f\v \r\n");
    EXPECT_EQ(blanks.get("all blanks", "key", "-"), "value one");
    EXPECT_EQ(blanks.get("\n\vAll Blanks\f\r\n", "\t\nKEY\n", "-"), "value one");
    EXPECT_EQ(blanks.get("All blanks", "Other", " x\t\n\v\f\r "), " x");
    EXPECT_EQ(Trim(" \t\r\n\v\fa b\f\v\n\r\t "), "a b");
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
    // A write through a link changes the file linked to, keeping its mode.
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    const std::string link = folder.file("link.INI");
    fs::create_symlink(path, link);
    PosixTextFiles files;
    IniFileStore store(files);
    ASSERT_TRUE(store.write(link, "START", "Auto", "1"));
    EXPECT_EQ(ReadFile(path), head + "1\n" + tail);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ModeOf(path), 0604u);

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
    EXPECT_EQ(folder.entries(), 3u);  // no temporary file left behind
}

TEST(IniFileStore, SeesEditsMadeByAnotherWriter) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    PosixTextFiles files;
    IniFileStore store(files);
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

    fs::remove(path);
    EXPECT_EQ(store.read(path, "General", "Title", "none"), "none");
}

TEST(IniFileStore, FailedWriteLeavesTheFileAsItWas) {
    TempFolder folder;
    const std::string path = folder.file("Tarvel.INI");
    const std::string original =
        "[Start]\r\nAuto=0\r\n[General]\r\nTitle=" + std::string(200, 't') + "\r\n";
    WriteFile(path, original);
    PosixTextFiles files;
    IniFileStore store(files);
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

// One file in memory that counts how often the store looks at it and reads
// it; every write puts the bytes in place as a new version.
class CountingFiles : public TextFiles {
  public:
    FileLookup identify(const std::string&) override {
        ++looks;
        return found;
    }
    FileLookup read(const std::string&, std::string& bytes) override {
        ++reads;
        bytes = found.kind == FileKind::Present ? content : std::string();
        return found;
    }
    FileWrite write(const std::string&, std::string_view bytes) override {
        if (refuseWrites) return {false, std::nullopt, "disk full"};
        edit(std::string(bytes));
        written.push_back(content);
        return {true, reportWritten ? std::optional(found.identity) : std::nullopt, {}};
    }
    // Another writer saves the file: a new version.
    void edit(std::string bytes) {
        content = std::move(bytes);
        ++version;
        found = {FileKind::Present, {1, 7, content.size(), {1000, version}, {1000, version}}, {}};
    }

    FileLookup found;
    std::string content;
    std::vector<std::string> written;
    bool refuseWrites = false;
    bool reportWritten = true;
    int looks = 0;
    int reads = 0;
    std::int64_t version = 0;
};

TEST(IniFileStore, ReadsEachVersionOnceAndLooksAgainAtEveryRead) {
    CountingFiles files;
    IniFileStore store(files);
    const std::string path = "Tarvel.INI";
    files.edit("[Start]\r\nAuto=1\r\nMin=0\r\n");
    EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "1");
    EXPECT_EQ(store.read(path, "Start", "Min", "-"), "0");
    EXPECT_EQ(store.read(path, "Start", "Other", "-"), "-");
    EXPECT_EQ(files.looks, 3);
    EXPECT_EQ(files.reads, 1);

    // Only the identity tells one version from the next.
    files.edit("[Start]\r\nAuto=2\r\n");
    EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "2");
    EXPECT_EQ(files.reads, 2);
    files.content = "[Start]\r\nAuto=3\r\n";
    EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "2");

    // A held version is looked at once, at its first read.
    {
        HeldVersion held(store);
        files.edit("[Start]\r\nAuto=4\r\n");
        const int looks = files.looks;
        EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "4");
        files.edit("[Start]\r\nAuto=5\r\n");
        EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "4");
        EXPECT_EQ(files.looks, looks + 1);
    }
    EXPECT_EQ(store.read(path, "Start", "Auto", "-"), "5");

    // The store's own write needs no second reading of the file, unless the
    // file in place is no longer the one written.
    const int reads = files.reads;
    ASSERT_TRUE(store.write(path, "Start", "Min", "1"));
    EXPECT_EQ(files.written.back(), "[Start]\r\nAuto=5\r\nMin=1\r\n");
    EXPECT_EQ(store.read(path, "Start", "Min", "-"), "1");
    EXPECT_EQ(files.reads, reads);
    files.reportWritten = false;
    ASSERT_TRUE(store.write(path, "Start", "Min", "0"));
    EXPECT_EQ(store.read(path, "Start", "Min", "-"), "0");
    EXPECT_EQ(files.reads, reads + 1);

    // A failed write changes nothing, and the next read reads the file.
    files.refuseWrites = true;
    EXPECT_FALSE(store.write(path, "Start", "Min", "9"));
    EXPECT_EQ(store.read(path, "Start", "Min", "-"), "0");
    EXPECT_EQ(files.reads, reads + 2);
}

TEST(IniFileStore, AFolderOrAnUnreadableFileGivesDefaultsAndIsNotOverwritten) {
    for (FileKind kind : {FileKind::Folder, FileKind::Unreadable}) {
        CountingFiles files;
        files.edit("[Start]\r\nAuto=1\r\n");
        IniFileStore store(files);
        EXPECT_EQ(store.read("Tarvel.INI", "Start", "Auto", "0"), "1");
        files.found = {kind, {}, "no way in"};
        EXPECT_EQ(store.read("Tarvel.INI", "Start", "Auto", "0"), "0");
        EXPECT_FALSE(store.write("Tarvel.INI", "Start", "Auto", "1"));
        EXPECT_TRUE(files.written.empty());
    }
    // A missing file is written from nothing.
    CountingFiles files;
    IniFileStore store(files);
    ASSERT_TRUE(store.write("Tarvel.INI", "Start", "Auto", "1"));
    EXPECT_EQ(files.written, std::vector<std::string>{"[Start]\r\nAuto=1\r\n"});
    EXPECT_EQ(files.reads, 0);
}

TEST(PosixTextFiles, TellsWhatIsAtAPathAndWhy) {
    TempFolder folder;
    PosixTextFiles files;
    std::string bytes = "left over";
    const std::string missing = folder.file("missing.INI");
    EXPECT_EQ(files.identify(missing).kind, FileKind::Missing);
    EXPECT_EQ(files.read(missing, bytes).kind, FileKind::Missing);
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(files.identify(folder.file("missing/Tarvel.INI")).kind, FileKind::Missing);
    EXPECT_EQ(files.identify(folder.path().string()).kind, FileKind::Folder);
    EXPECT_EQ(files.read(folder.path().string(), bytes).kind, FileKind::Folder);

    // A loop of links cannot be read: the system says why.
    const std::string loop = folder.file("loop.INI");
    fs::create_symlink(loop, loop);
    const FileLookup looped = files.identify(loop);
    EXPECT_EQ(looped.kind, FileKind::Unreadable);
    EXPECT_NE(looped.reason.find(loop), std::string::npos) << looped.reason;
    EXPECT_NE(looped.reason.find(std::strerror(ELOOP)), std::string::npos) << looped.reason;
    // A named pipe is no file to read, and reading it does not wait.
    const std::string pipe = folder.file("pipe.INI");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(files.read(pipe, bytes).kind, FileKind::Unreadable);

    // A file's identity is the same whether looked at or read, and a write
    // reports the identity of the file it put in place.
    const std::string path = folder.file("Tarvel.INI");
    WriteFile(path, "[Start]\nAuto=0\n");
    const FileLookup looked = files.identify(path);
    ASSERT_EQ(looked.kind, FileKind::Present);
    EXPECT_EQ(looked.identity.size, 15u);
    const FileLookup read = files.read(path, bytes);
    EXPECT_EQ(read.kind, FileKind::Present);
    EXPECT_EQ(read.identity, looked.identity);
    EXPECT_EQ(bytes, "[Start]\nAuto=0\n");
    const FileWrite write = files.write(path, "[Start]\r\nAuto=1\r\n");
    ASSERT_TRUE(write.written);
    ASSERT_TRUE(write.identity);
    EXPECT_EQ(*write.identity, files.identify(path).identity);
    EXPECT_NE(write.identity->inode, looked.identity.inode);
    EXPECT_EQ(ReadFile(path), "[Start]\r\nAuto=1\r\n");

    const FileWrite failed = files.write(folder.file("missing/Tarvel.INI"), "x");
    EXPECT_FALSE(failed.written);
    EXPECT_NE(failed.error.find(std::strerror(ENOENT)), std::string::npos) << failed.error;
}

TEST(PosixOutputFiles, ReplacePutsTheWholeContentOrLeavesTheOldOne) {
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

    // A failed replace keeps the old file and says why.
    ASSERT_TRUE(files.replace(path, "<old/>", error));

    EXPECT_FALSE(files.replace(folder.file("missing/NoName.xml"), "<new/>", error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(files.replace(path + "/NoName.xml", "<new/>", error));
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

// Targets that are no plain file: a device or a named pipe is written into
// in place and never deleted, a pipe without a reader fails at once, a
// dangling link stays a link, and the settings file is never an output.
// Temporary files that a killed writer left are removed.
TEST(PosixOutputFiles, SpecialTargetsLinksAndTheSettingsFile) {
    TempFolder folder;
    PosixOutputFiles files;
    std::string error;

    // The null device made again in the folder (only root may): a fault
    // here replaces the folder's node, never the system's.
    const std::string device = folder.file("nul");
    if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
        EXPECT_TRUE(files.replace(device, "<a/>", error)) << error;
        EXPECT_TRUE(files.remove(device));
        EXPECT_TRUE(fs::is_character_file(device));
    } else {
        std::printf("[ NOTE     ] no device node without root: that case not run\n");
    }

    const std::string pipe = folder.file("pipe.xml");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(files.replace(pipe, "<a/>", error));
    EXPECT_NE(error.find("no reader"), std::string::npos) << error;
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(files.replace(pipe, "<b/>", error)) << error;
    char got[8] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 4);
    EXPECT_STREQ(got, "<b/>");
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(pipe));

    const std::string link = folder.file("link.xml");
    fs::create_symlink("later.xml", link);
    EXPECT_TRUE(files.replace(link, "<c/>", error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(folder.file("later.xml")), "<c/>");

    const std::string settings = folder.file("Tarvel.INI");
    WriteFile(settings, "[Start]\r\n");
    files.protect(settings);
    const std::string alias = folder.file("alias.xml");
    fs::create_symlink(settings, alias);
    EXPECT_FALSE(files.replace(alias, "<d/>", error));
    EXPECT_NE(error.find("settings file"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(settings), "[Start]\r\n");

    // 99999999 is beyond any process id; the parent process runs.
    const std::string stale = folder.file(".out.xml.99999999-0.tmp");
    const std::string live = folder.file(".out.xml." + std::to_string(::getppid()) + "-0.tmp");
    WriteFile(stale, "x");
    WriteFile(live, "y");
    EXPECT_TRUE(files.replace(folder.file("out.xml"), "<e/>", error)) << error;
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
}

}  // namespace
}  // namespace tarvel
