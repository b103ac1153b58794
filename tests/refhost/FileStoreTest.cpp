#include <qarn/refhost/FileStore.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "TempDir.h"

using refhost::FileStore;
using namespace std::string_literals;

class FileStoreTest : public ::testing::Test {
  protected:
    // Parses `text`; the error, or "" when it parsed.
    static std::string parse(const std::string& text, FileStore::Sections& s) {
        std::string error;
        return FileStore::parse(text, s, error) ? "" : error;
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
    ASSERT_EQ(parse(FileStore::serialize(in), out), "");
    EXPECT_EQ(out, in) << FileStore::serialize(in);
}

TEST_F(FileStoreTest, HandWrittenFilesAreReadAndDamageIsReportedWithItsLine) {
    FileStore::Sections s;
    ASSERT_EQ(parse("# a comment\r\n; another\n\n  [QARN]  \ntempNode5 = 7\ntempNode5=8\n"
                    "spaced=  a b  \n[other]\nk=v=w\n",
                    s),
              "");
    EXPECT_EQ(s, (FileStore::Sections{{"QARN", {{"tempNode5", "8"}, {"spaced", "a b"}}},
                                      {"other", {{"k", "v=w"}}}}));
    const std::pair<std::string, const char*> cases[] = {
        {"k=v\n", "line 1: key=value before the first [section]"},
        {"[s]\nk=v\n[open\n", "line 3: section header without its closing ]"},
        {"[s]\njust text\n", "line 2: expected key=value"},
        {"[s]\n = v\n", "line 2: empty key"},
        {"[s]\nk=a\\q\n", "line 2: unknown escape \\q"},
        {"[s]\nk=a\\x00\n", "line 2: bad \\x escape"},
        {"[s]\nk=a\0b\n"s, "line 2: NUL byte"},
    };
    for (const auto& [text, error] : cases) {
        EXPECT_EQ(parse(text, s), error) << text;
    }
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

TEST_F(FileStoreTest, DamagedFileIsReportedAndKeptAsideAndFailedWritesAreExplained) {
    std::filesystem::create_directories(dir.file("state/qarn"));
    const std::string damaged = "[QARN]\ntempNode1=2\ngarbage line\n";
    TempDir::write(path, damaged);
    EXPECT_FALSE(store.load());
    EXPECT_NE(store.error().find("line 3: expected key=value"), std::string::npos) << store.error();
    EXPECT_EQ(store.GetValueCount("QARN"), 0);
    ASSERT_EQ(store.SetValue("QARN", "tempNode5", "6"), 1) << store.error();
    EXPECT_EQ(TempDir::read(path + ".bad"), damaged);
    FileStore again(path);
    ASSERT_TRUE(again.load()) << again.error();
    EXPECT_STREQ(again.GetValue("QARN", "tempNode5"), "6");
    EXPECT_EQ(again.GetValue("QARN", "tempNode1"), nullptr);

    // A change that cannot be written is explained and not kept.
    TempDir::write(dir.file("plain"), "a file where a folder should be");
    FileStore blocked(dir.file("plain/qarn/store.ini"));
    EXPECT_EQ(blocked.SetValue("QARN", "tempNode1", "2"), 0);
    EXPECT_EQ(blocked.error(),
              dir.file("plain/qarn") + ": cannot create the folder: Not a directory");
    EXPECT_EQ(blocked.GetValue("QARN", "tempNode1"), nullptr) << "memory follows the disk";
}

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
