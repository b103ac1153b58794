#include "FileStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "TempDir.h"

using refhost::FileStore;

TEST(FileStoreText, AwkwardNamesAndValuesSurviveTheRoundTrip) {
    const std::string awkward[] = {
        "plain",  "with=equals", "#hash",    ";semicolon",  "[bracket",  "]",
        " lead",  "trail ",      "  ",       "tab\there",   "new\nline", "cr\r",
        "back\\", "\\x41",       "\x01\x7f", "caf\xc3\xa9", "a = b",     "[s]",
    };
    FileStore::Sections in;
    for (const std::string& a : awkward) {
        in[a][a] = a;
        in["values"]["k" + a] = a;
    }
    in["empty value"]["k"] = "";
    const std::string text = FileStore::serialize(in);
    FileStore::Sections out;
    std::string error;
    ASSERT_TRUE(FileStore::parse(text, out, error)) << error << "\n" << text;
    EXPECT_EQ(out, in) << text;
}

TEST(FileStoreText, HandWrittenFilesAreRead) {
    const std::string text =
        "# a comment\r\n"
        "; another\n"
        "\n"
        "  [QARN]  \n"
        "tempNode5 = 7\n"
        "tempNode5=8\n"  // the later line wins, as in any ini file
        "spaced=  a b  \n"
        "[other]\n"
        "k=v=w\n";
    FileStore::Sections s;
    std::string error;
    ASSERT_TRUE(FileStore::parse(text, s, error)) << error;
    EXPECT_EQ(s["QARN"]["tempNode5"], "8");
    EXPECT_EQ(s["QARN"]["spaced"], "a b");
    EXPECT_EQ(s["other"]["k"], "v=w");
    EXPECT_EQ(s.size(), 2U);
}

TEST(FileStoreText, DamageIsReportedWithItsLine) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"k=v\n", "line 1: key=value before the first [section]"},
        {"[s]\nk=v\n[open\n", "line 3: section header without its closing ]"},
        {"[s]\n[t] x\n", "line 2: section header without its closing ]"},
        {"[s]\njust text\n", "line 2: expected key=value"},
        {"[s]\n = v\n", "line 2: empty key"},
        {"[s]\nk=a\\q\n", "line 2: unknown escape \\q"},
        {"[s]\nk=a\\x4\n", "line 2: bad \\x escape"},
        {"[s]\nk=a\\x00\n", "line 2: bad \\x escape"},
        {"[s]\nk=a\\\n", "line 2: backslash at the end of the line"},
        {"[s]\nk=a\0b\n"s, "line 2: NUL byte"},
    };
    for (const auto& c : cases) {
        FileStore::Sections s;
        std::string error;
        EXPECT_FALSE(FileStore::parse(c.text, s, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

class FileStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("state/qarn/store.ini");
};

TEST_F(FileStoreTest, MissingFileIsAnEmptyStoreAndChangesCreateFolderAndFile) {
    FileStore store(path);
    EXPECT_TRUE(store.load()) << store.error();
    EXPECT_EQ(store.GetValueCount("QARN"), 0);
    EXPECT_EQ(store.GetValue("QARN", "tempNode5"), nullptr);
    EXPECT_EQ(store.RemoveValue("QARN", "tempNode5"), 0);
    EXPECT_EQ(access(path.c_str(), F_OK), -1) << "a change that changes nothing writes nothing";

    EXPECT_EQ(store.SetValue("QARN", "tempNode5", "7"), 1) << store.error();
    EXPECT_STREQ(store.GetValue("QARN", "tempNode5"), "7");

    FileStore again(path);
    ASSERT_TRUE(again.load()) << again.error();
    EXPECT_STREQ(again.GetValue("QARN", "tempNode5"), "7");
}

TEST_F(FileStoreTest, KeysAreListedSortedAndRemovedForGood) {
    FileStore store(path);
    ASSERT_TRUE(store.load());
    for (const char* k : {"tempNode3", "tempNode12", "other"}) {
        ASSERT_EQ(store.SetValue("QARN", k, "1"), 1);
    }
    ASSERT_EQ(store.SetValue("line2", "tempNode1", "2"), 1);
    EXPECT_EQ(store.GetValueCount("QARN"), 3);
    EXPECT_STREQ(store.GetValueName("QARN", 0), "other");
    EXPECT_STREQ(store.GetValueName("QARN", 1), "tempNode12");
    EXPECT_STREQ(store.GetValueName("QARN", 2), "tempNode3");
    EXPECT_EQ(store.GetValueName("QARN", 3), nullptr);
    EXPECT_EQ(store.GetValueName("QARN", -1), nullptr);
    EXPECT_EQ(store.GetValueName("nosection", 0), nullptr);

    EXPECT_EQ(store.RemoveValue("QARN", "tempNode12"), 1);
    EXPECT_EQ(store.RemoveValue("QARN", "tempNode12"), 0);
    EXPECT_EQ(store.RemoveValue("line2", "tempNode1"), 1);

    FileStore again(path);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.GetValueCount("QARN"), 2);
    EXPECT_EQ(again.GetValue("QARN", "tempNode12"), nullptr);
    EXPECT_EQ(again.GetValueCount("line2"), 0);
    EXPECT_EQ(TempDir::read(path).find("[line2]"), std::string::npos)
        << "an emptied section leaves no header behind";
}

TEST_F(FileStoreTest, ChangesReplaceTheFileAndLeaveNoTemporaries) {
    FileStore store(path);
    ASSERT_TRUE(store.load());
    ASSERT_EQ(store.SetValue("QARN", "tempNode1", "old"), 1);
    const int before = open(path.c_str(), O_RDONLY);
    ASSERT_GE(before, 0);
    struct stat oldStat {};
    ASSERT_EQ(fstat(before, &oldStat), 0);

    ASSERT_EQ(store.SetValue("QARN", "tempNode1", "new"), 1);
    struct stat newStat {};
    ASSERT_EQ(stat(path.c_str(), &newStat), 0);
    EXPECT_NE(newStat.st_ino, oldStat.st_ino) << "written in place instead of replaced";
    // A reader that had the old file open still sees the whole old content.
    char buf[256] = {};
    ASSERT_GT(pread(before, buf, sizeof buf - 1, 0), 0);
    close(before);
    EXPECT_NE(std::string(buf).find("tempNode1=old"), std::string::npos);

    const std::string folder = dir.file("state/qarn");
    TempDir::write(folder + "/store.ini.tmp.ABC123", "left by a writer that died");
    ASSERT_EQ(store.SetValue("QARN", "tempNode2", "x"), 1);
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') {
                names.emplace_back(e->d_name);
            }
        }
        closedir(d);
    }
    EXPECT_EQ(names, std::vector<std::string>{"store.ini"});
}

TEST_F(FileStoreTest, ChangesOfAnotherWriterAreKept) {
    FileStore first(path);
    FileStore second(path);
    ASSERT_TRUE(first.load());
    ASSERT_TRUE(second.load());
    ASSERT_EQ(first.SetValue("QARN", "tempNode1", "2"), 1);
    ASSERT_EQ(second.SetValue("QARN", "tempNode3", "4"), 1);
    FileStore check(path);
    ASSERT_TRUE(check.load());
    EXPECT_STREQ(check.GetValue("QARN", "tempNode1"), "2");
    EXPECT_STREQ(check.GetValue("QARN", "tempNode3"), "4");
}

TEST_F(FileStoreTest, DamagedFileIsReportedAndKeptAsideOnTheFirstChange) {
    ASSERT_EQ(FileStore(path).SetValue("QARN", "tempNode1", "2"), 1);
    const std::string damaged = "[QARN]\ntempNode1=2\ngarbage line\n";
    TempDir::write(path, damaged);

    FileStore store(path);
    EXPECT_FALSE(store.load());
    EXPECT_NE(store.error().find("line 3: expected key=value"), std::string::npos) << store.error();
    EXPECT_EQ(store.GetValueCount("QARN"), 0);

    ASSERT_EQ(store.SetValue("QARN", "tempNode5", "6"), 1) << store.error();
    EXPECT_EQ(TempDir::read(path + ".bad"), damaged);
    FileStore again(path);
    ASSERT_TRUE(again.load()) << again.error();
    EXPECT_STREQ(again.GetValue("QARN", "tempNode5"), "6");
    EXPECT_EQ(again.GetValue("QARN", "tempNode1"), nullptr);
}

TEST_F(FileStoreTest, CopiesFollowTheBufferContract) {
    FileStore store(path);
    ASSERT_TRUE(store.load());
    const std::string fits(255, 'a');
    const std::string tooLong(256, 'b');
    ASSERT_EQ(store.SetValue("s", "fits", fits.c_str()), 1);
    ASSERT_EQ(store.SetValue("s", "long", tooLong.c_str()), 1);
    ASSERT_EQ(store.SetValue("s", tooLong.c_str(), "x"), 1);

    char buffer[256];
    EXPECT_EQ(store.CopyValue("s", "fits", buffer, 256), 1);
    EXPECT_EQ(std::string(buffer), fits);
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(store.CopyValue("s", "long", buffer, 256), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(store.CopyValue("s", "missing", buffer, 256), 0);
    EXPECT_EQ(store.CopyValue("s", "fits", buffer, 0), 0);

    // Names sorted: "bbb...", "fits", "long".
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(store.CopyValueName("s", 0, buffer, 256), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(store.CopyValueName("s", 1, buffer, 256), 1);
    EXPECT_STREQ(buffer, "fits");
    EXPECT_EQ(store.CopyValueName("s", 3, buffer, 256), 0);
}

TEST_F(FileStoreTest, AnswersBothStoreNamesWithTheExtendedStore) {
    FileStore store(path);
    auto* viaBase = static_cast<IPermanentStorage*>(&store);
    auto* extended = static_cast<IPermanentStorage2*>(viaBase->ConvertTo("IPermanentStorage2"));
    ASSERT_EQ(extended, &store);
    EXPECT_EQ(viaBase->ConvertTo("IPermanentStorage"), viaBase);
    EXPECT_EQ(viaBase->ConvertTo("ipermanentstorage2"), nullptr);
    ASSERT_EQ(extended->SetValue("QARN", "tempNode1", "9"), 1);
    char buffer[256];
    EXPECT_EQ(extended->CopyValue("QARN", "tempNode1", buffer, 256), 1);
    EXPECT_STREQ(buffer, "9");
}

TEST(FileStoreFailure, ChangeThatCannotBeWrittenIsCountedAndExplained) {
    TempDir dir;
    TempDir::write(dir.file("plain"), "a file where a folder should be");
    FileStore store(dir.file("plain/qarn/store.ini"));
    EXPECT_FALSE(store.load());
    EXPECT_EQ(store.error(), dir.file("plain/qarn/store.ini") + ": Not a directory");
    EXPECT_EQ(store.SetValue("QARN", "tempNode1", "2"), 0);
    EXPECT_EQ(store.RemoveValue("QARN", "tempNode1"), 0);
    EXPECT_EQ(store.failedWrites(), 2);
    EXPECT_EQ(store.error(),
              dir.file("plain/qarn") + ": cannot create the folder: Not a directory");
    EXPECT_EQ(store.GetValue("QARN", "tempNode1"), nullptr) << "memory follows the disk";
}
