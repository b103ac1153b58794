#include <qarn/refhost/FileStore.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "TempDir.h"

using refhost::FileStore;
using namespace std::string_literals;

class FileStoreTest : public ::testing::Test {
  protected:
    // What `s` holds in these sections, as the plug-in sees it.
    static FileStore::Sections held(FileStore& s,
                                    std::initializer_list<const char*> names = {"QARN", "line2"}) {
        FileStore::Sections out;
        for (const char* name : names) {
            for (int i = 0; i < s.GetValueCount(name); ++i) {
                const char* key = s.GetValueName(name, i);
                out[name][key] = s.GetValue(name, key);
            }
        }
        return out;
    }
    // Stores every value of `wanted`, one change at a time.
    static void set(FileStore& s, const FileStore::Sections& wanted) {
        for (const auto& [name, keys] : wanted) {
            for (const auto& [key, value] : keys) {
                ASSERT_EQ(s.SetValue(name.c_str(), key.c_str(), value.c_str()), 1) << s.error();
            }
        }
    }

    TempDir dir;
    std::string path = dir.file("state/qarn/store.ini");
    FileStore store{path};
};

TEST_F(FileStoreTest, AwkwardNamesAndValuesSurviveTheRoundTrip) {
    FileStore::Sections in{{"empty value", {{"k", ""}}}};
    for (const std::string a :
         {"with=equals", "#hash", ";semi", "[bracket", "]", " lead", "trail ", "tab\there",
          "new\nline", "cr\r", "back\\", "\\x41", "\x01\x7f", "caf\xc3\xa9", "[s]"}) {
        in[a][a] = a;
        in["values"]["k" + a] = a;
    }
    FileStore::Sections out;
    std::string error;
    ASSERT_TRUE(FileStore::parse(FileStore::serialize(in), out, error)) << error;
    EXPECT_EQ(out, in) << FileStore::serialize(in);
}

TEST_F(FileStoreTest, HandWrittenFilesLoadAndDamageIsReportedWithItsReason) {
    std::filesystem::create_directories(dir.file("state/qarn"));
    for (const std::string header :
         {"# a comment\r\n; another\n\n",
          "# qarn permanent store: [section] headers, then key=value lines\n"}) {
        TempDir::write(path, header +
                                 "  [QARN]  \ntempNode5 = 7\ntempNode5=8\nspaced=  a b  \n"
                                 "[line2]\nk=v=w\n# end crc32=00000000\n");
        ASSERT_TRUE(store.load()) << store.error();
        EXPECT_EQ(held(store),
                  (FileStore::Sections{{"QARN", {{"tempNode5", "8"}, {"spaced", "a b"}}},
                                       {"line2", {{"k", "v=w"}}}}));
    }
    ASSERT_EQ(store.SetValue("QARN", "tempNode6", "9"), 1) << store.error();
    EXPECT_EQ(TempDir::read(path).rfind("# qarn store 2\n", 0), 0U) << "a change marks the file";

    const std::string whole = FileStore::serialize({{"QARN", {{"tempNode5", "20"}}}});
    const std::string crlf = std::regex_replace(whole, std::regex("\n"), "\r\n");
    std::string edited = whole;
    edited.replace(edited.find("=20"), 3, "=21");
    std::string cut = "no end line (the file was cut)";
    const std::string mismatch =
        "checksum mismatch (the file was cut or changed after it was "
        "written; to keep hand edits, delete its first line)";
    const std::pair<std::string, std::string> cases[] = {
        {"k=v\n", "line 1: key=value before the first [section]"},
        {"[s]\nk=v\n[open\n", "line 3: section header without its closing ]"},
        {"[s]\njust text\n", "line 2: expected key=value"},
        {"[s]\n = v\n", "line 2: empty key"},
        {"[s]\nk=a\\q\n", "line 2: unknown escape \\q"},
        {"[s]\nk=a\\x00\n", "line 2: bad \\x escape"},
        {"[s]\nk=a\0b\n"s, "line 2: NUL byte"},
        {std::string(whole.size(), '\0'), "line 1: NUL byte"},
        {"", "the file is empty (cut before its first line)"},
        {"# qarn st", "the file ends inside its first line (cut)"},
        {whole.substr(0, whole.size() - 1), cut},
        {whole + "[s]\nk=v\n", cut},
        {edited, mismatch},
        {crlf, mismatch},
    };
    FileStore::Sections s;
    for (const auto& [text, error] : cases) {
        std::string got;
        EXPECT_FALSE(FileStore::parse(text, s, got)) << text;
        EXPECT_EQ(got, error) << text;
    }
    // The checksum is the common CRC-32 (zlib's), so other tools can check and make one.
    ASSERT_TRUE(
        FileStore::parse("# qarn store 2\n[QARN]\ntempNode5=20\n# end crc32=a6733809\n", s, cut));
    EXPECT_EQ(s, (FileStore::Sections{{"QARN", {{"tempNode5", "20"}}}}));
}

TEST_F(FileStoreTest, EveryCutOfAWrittenFileIsDetectedOrLoadsTheOldOrTheNewContent) {
    const FileStore::Sections before{{"QARN", {{"tempNode4", "4"}, {"tempNode5", "6"}}}};
    const FileStore::Sections after{{"QARN", {{"tempNode4", "12"}, {"tempNode5", "20"}}},
                                    {"line2", {{"tempNode1", "1"}}}};
    set(store, before);
    set(store, after);
    const std::string written = TempDir::read(path);
    int detected = 0;
    for (size_t k = 0; k < written.size(); ++k) {
        TempDir::write(path, written.substr(0, k));
        FileStore cut(path);
        if (cut.load()) {
            const FileStore::Sections got = held(cut);
            EXPECT_TRUE(got == before || got == after) << "cut at " << k;
        } else {
            ++detected;
            EXPECT_EQ(cut.error().rfind(path + ": damaged store, ", 0), 0U) << cut.error();
            EXPECT_EQ(held(cut), FileStore::Sections{}) << "cut at " << k;
        }
    }
    EXPECT_EQ(detected, static_cast<int>(written.size())) << "a marked file is never cut whole";
}

TEST_F(FileStoreTest, MissingFileIsEmptyAndChangesOfEveryWriterAreKept) {
    EXPECT_TRUE(store.load()) << store.error();
    EXPECT_EQ(store.RemoveValue("QARN", "tempNode5"), 0);
    EXPECT_FALSE(std::filesystem::exists(path)) << "a change that changes nothing writes nothing";

    FileStore other(path);  // a second program on the same store
    ASSERT_EQ(store.SetValue("QARN", "tempNode3", "3"), 1) << store.error();
    ASSERT_EQ(store.SetValue("QARN", "tempNode12", "12"), 1);
    ASSERT_EQ(other.SetValue("line2", "tempNode1", "2"), 1);
    ASSERT_EQ(other.SetValue("QARN", "tempNode7", "7"), 1);
    EXPECT_EQ(store.RemoveValue("QARN", "tempNode12"), 1);
    EXPECT_EQ(store.RemoveValue("line2", "tempNode1"), 1);

    FileStore again(path);
    ASSERT_TRUE(again.load()) << again.error();
    EXPECT_EQ(again.GetValueCount("QARN"), 2);
    EXPECT_STREQ(again.GetValueName("QARN", 1), "tempNode7");  // sorted
    EXPECT_EQ(again.GetValueName("QARN", 2), nullptr);
    EXPECT_STREQ(again.GetValue("QARN", "tempNode3"), "3");
    EXPECT_EQ(TempDir::read(path).find("[line2]"), std::string::npos) << "empty section left";
}

TEST_F(FileStoreTest, ChangesReplaceTheFileAtomicallyAndLeaveNoTemporaries) {
    ASSERT_EQ(store.SetValue("QARN", "tempNode1", "old"), 1);
    const int before = open(path.c_str(), O_RDONLY);
    struct stat oldStat {};
    struct stat newStat {};
    ASSERT_EQ(fstat(before, &oldStat), 0);
    ASSERT_EQ(store.SetValue("QARN", "tempNode1", "new"), 1);
    ASSERT_EQ(stat(path.c_str(), &newStat), 0);
    EXPECT_NE(newStat.st_ino, oldStat.st_ino) << "written in place instead of replaced";
    char buf[256] = {};  // a reader of the old file still sees the whole old content
    ASSERT_GT(pread(before, buf, sizeof buf - 1, 0), 0);
    close(before);
    EXPECT_NE(std::string(buf).find("[QARN]\ntempNode1=old\n"), std::string::npos) << buf;

    TempDir::write(path + ".tmp.ABC123", "left by a writer that died");
    ASSERT_EQ(store.SetValue("QARN", "tempNode2", "x"), 1);
    for (const auto& e : std::filesystem::directory_iterator(dir.file("state/qarn"))) {
        EXPECT_EQ(e.path().filename(), "store.ini");
    }
}

TEST_F(FileStoreTest, DamagedStoreRefusesChangesUntilResetOrMendedAndKeepsEveryCopy) {
    std::filesystem::create_directories(dir.file("state/qarn"));
    std::string damaged = "[QARN]\ntempNode1=2\ngarbage line\n";
    TempDir::write(path, damaged);
    EXPECT_FALSE(store.load());
    EXPECT_TRUE(store.damaged());
    const std::string reason = path + ": damaged store, line 3: expected key=value";
    EXPECT_EQ(store.error(), reason);
    EXPECT_EQ(held(store), FileStore::Sections{});
    EXPECT_EQ(store.SetValue("QARN", "tempNode5", "6"), 0);
    EXPECT_EQ(store.RemoveValue("QARN", "tempNode1"), 0);
    EXPECT_EQ(store.error(), reason + "; changes are refused until the store is reset");
    EXPECT_EQ(store.failedWrites(), 2);
    EXPECT_EQ(TempDir::read(path), damaged) << "a refused change leaves the file alone";

    // Damage a change finds (cut after this store loaded it) is refused the same way, and every
    // reset keeps its own copy, also within one second.
    const std::regex copyName(std::regex_replace(path, std::regex("[.]"), "\\.") +
                              "\\.bad-[0-9]{8}T[0-9]{6}Z(-[0-9]+)?");
    std::vector<std::pair<std::string, std::string>> kept;  // copy, content
    for (int round = 0; round < 3; ++round) {
        std::string copy;
        ASSERT_TRUE(store.reset(copy)) << store.error();
        EXPECT_FALSE(store.damaged());
        EXPECT_TRUE(std::regex_match(copy, copyName)) << copy;
        EXPECT_FALSE(std::filesystem::exists(path));
        kept.emplace_back(copy, damaged);
        for (const auto& [earlier, content] : kept) {
            EXPECT_EQ(TempDir::read(earlier), content) << earlier;
        }
        ASSERT_EQ(store.SetValue("QARN", "tempNode5", std::to_string(round).c_str()), 1)
            << store.error();
        const std::string whole = TempDir::read(path);
        damaged = whole.substr(0, whole.size() - 2);
        TempDir::write(path, damaged);
        EXPECT_EQ(store.SetValue("QARN", "tempNode5", "9"), 0);
        EXPECT_TRUE(store.damaged());
        EXPECT_EQ(store.GetValue("QARN", "tempNode5"), nullptr) << "memory follows the file";
        EXPECT_EQ(TempDir::read(path), damaged);
    }
    TempDir::write(path, "[QARN]\ntempNode5=8\n");  // mended by hand meanwhile
    ASSERT_EQ(store.SetValue("QARN", "tempNode6", "1"), 1) << store.error();
    EXPECT_FALSE(store.damaged());
    EXPECT_STREQ(store.GetValue("QARN", "tempNode5"), "8");

    std::string copy = "x";
    std::filesystem::remove(path);
    EXPECT_TRUE(store.reset(copy)) << "nothing to keep";
    EXPECT_EQ(copy, "");
    std::filesystem::create_directory(path);
    EXPECT_FALSE(store.reset(copy));
    EXPECT_EQ(store.error(), path + ": is a folder, not a store file; not moved aside");
}

// A change the file system refuses: the change gives 0 and the system's reason, and the store
// holds what the file holds, without the change.
struct Blocked {
    const char* name;
    bool needsPermissions;  // root passes them
    int err;
    bool readable;  // whether the store can still read the file
    void (*block)(const std::string& path, bool on);
};

void PrintTo(const Blocked& c, std::ostream* out) {
    *out << c.name;
}

class BlockedFileStoreTest : public ::testing::TestWithParam<Blocked> {};

TEST_P(BlockedFileStoreTest, ChangeGivesZeroWithTheReasonAndNoPhantomValue) {
    const Blocked& c = GetParam();
    if (c.needsPermissions && geteuid() == 0) {
        GTEST_SKIP() << "running as root, which writes into read-only folders";
    }
    TempDir dir;
    const std::string path = dir.file("qarn/store.ini");
    FileStore other(path);  // a second program on the same store
    ASSERT_EQ(other.SetValue("QARN", "tempNode1", "1"), 1) << other.error();
    FileStore store(path);
    ASSERT_TRUE(store.load()) << store.error();
    ASSERT_EQ(other.SetValue("QARN", "tempNode2", "2"), 1) << "the file moved on since the load";

    c.block(path, true);
    EXPECT_EQ(store.SetValue("QARN", "tempNode3", "3"), 0);
    EXPECT_EQ(store.RemoveValue("QARN", "tempNode1"), 0);
    c.block(path, false);
    EXPECT_EQ(store.failedWrites(), 2);
    EXPECT_NE(store.error().find(std::strerror(c.err)), std::string::npos) << store.error();
    EXPECT_EQ(store.GetValue("QARN", "tempNode3"), nullptr) << "phantom change";
    EXPECT_STREQ(store.GetValue("QARN", "tempNode1"), "1") << "phantom removal";
    FileStore fresh(path);
    ASSERT_TRUE(fresh.load()) << fresh.error();
    EXPECT_EQ(store.GetValueCount("QARN"), c.readable ? fresh.GetValueCount("QARN") : 1)
        << "holds what it read last";
}

// Puts `target` aside with a folder or a file in its place, or back.
void replaceBy(const std::string& target, bool on, bool folder) {
    if (on) {
        std::filesystem::rename(target, target + ".away");
        folder ? (void)std::filesystem::create_directory(target) : TempDir::write(target, "x");
    } else {
        std::filesystem::remove(target);
        std::filesystem::rename(target + ".away", target);
    }
}

void readOnlyFolder(const std::string& path, bool on) {
    chmod(path.substr(0, path.rfind('/')).c_str(), on ? 0555 : 0755);
}

// Stands in for a full disk: the temporary file can't take the new content.
void fileSizeLimit(const std::string&, bool on) {
    static rlimit saved{};
    rlimit limit = saved;
    if (on) {
        getrlimit(RLIMIT_FSIZE, &saved);
        limit = saved;
        limit.rlim_cur = 16;
    }
    signal(SIGXFSZ, on ? SIG_IGN : SIG_DFL);
    setrlimit(RLIMIT_FSIZE, &limit);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockedFileStoreTest,
    ::testing::Values(Blocked{"ReadOnlyFolder", true, EACCES, true, readOnlyFolder},
                      Blocked{"FileTooLarge", false, EFBIG, true, fileSizeLimit},
                      Blocked{"PathIsAFolder", false, EISDIR, false,
                              [](const std::string& path, bool on) { replaceBy(path, on, true); }},
                      Blocked{"FolderIsAFile", false, ENOTDIR, false,
                              [](const std::string& path, bool on) {
                                  replaceBy(path.substr(0, path.rfind('/')), on, false);
                              }}),
    [](const ::testing::TestParamInfo<Blocked>& param) { return std::string(param.param.name); });

TEST_F(FileStoreTest, ExtendedStoreCopiesFollowTheBufferContract) {
    auto* s = static_cast<IPermanentStorage2*>(
        static_cast<IPermanentStorage&>(store).ConvertTo("IPermanentStorage2"));
    ASSERT_EQ(s, &store);
    const std::string fits(255, 'a');
    ASSERT_EQ(s->SetValue("s", "fits", fits.c_str()), 1);
    ASSERT_EQ(s->SetValue("s", std::string(256, 'b').c_str(), fits.c_str()), 1);
    char buffer[256] = "z";
    EXPECT_EQ(s->CopyValue("s", "fits", buffer, 256), 1);
    EXPECT_EQ(std::string(buffer), fits);
    EXPECT_EQ(s->CopyValue("s", "fits", buffer, 255), 0);  // no room for the NUL
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(s->CopyValueName("s", 0, buffer, 256), 0);  // names sorted: "bbb...", "fits"
    EXPECT_EQ(s->CopyValueName("s", 1, buffer, 256), 1);
    EXPECT_STREQ(buffer, "fits");
}
