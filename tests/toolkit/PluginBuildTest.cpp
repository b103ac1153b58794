// The build notes read from a plug-in file: synthetic ELF images of both classes and byte orders,
// and the damaged files that must be refused rather than misread.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <qarn/toolkit/PluginBuild.h>

namespace {

struct Note {
    std::string owner;  // with its NUL
    uint32_t type;
    std::string desc;
};

class Writer {
  public:
    explicit Writer(bool big) : big_(big) {}
    void put(uint64_t value, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (big_ ? size - 1 - i : i);
            bytes += static_cast<char>((value >> shift) & 0xff);
        }
    }
    void pad(size_t align) {
        while (bytes.size() % align != 0) {
            bytes += '\0';
        }
    }
    std::string bytes;

  private:
    bool big_;
};

std::string noteBytes(const std::vector<Note>& notes, bool big, size_t align) {
    Writer w(big);
    for (const Note& n : notes) {
        w.put(n.owner.size(), 4);
        w.put(n.desc.size(), 4);
        w.put(n.type, 4);
        w.bytes += n.owner;
        w.pad(align);
        w.bytes += n.desc;
        w.pad(align);
    }
    return w.bytes;
}

// Header, a PT_LOAD and a PT_NOTE program header, then the notes.
std::string elf(bool wide, bool big, const std::vector<Note>& notes, size_t align = 4) {
    const std::string body = noteBytes(notes, big, align);
    const uint64_t header = wide ? 64 : 52, phent = wide ? 56 : 32;
    const uint64_t noteOffset = header + 2 * phent;
    Writer w(big);
    w.bytes = std::string("\177ELF", 4) + char(wide ? 2 : 1) + char(big ? 2 : 1) + char(1);
    w.pad(16);
    w.put(3, 2);                  // e_type ET_DYN
    w.put(wide ? 62 : 40, 2);     // e_machine
    w.put(1, 4);                  // e_version
    w.put(0, wide ? 8 : 4);       // e_entry
    w.put(header, wide ? 8 : 4);  // e_phoff
    w.put(0, wide ? 8 : 4);       // e_shoff
    w.put(0, 4);                  // e_flags
    w.put(header, 2);             // e_ehsize
    w.put(phent, 2);              // e_phentsize
    w.put(2, 2);                  // e_phnum
    w.put(0, 6);                  // e_shentsize, e_shnum, e_shstrndx
    for (const uint32_t type : {1u, 4u}) {
        const uint64_t offset = type == 4 ? noteOffset : 0;
        const uint64_t size = type == 4 ? body.size() : noteOffset + body.size();
        w.put(type, 4);
        if (wide) {
            w.put(4, 4);  // p_flags
            w.put(offset, 8);
            w.put(0, 8);
            w.put(0, 8);
            w.put(size, 8);
            w.put(size, 8);
            w.put(type == 4 ? align : 0x1000, 8);
        } else {
            w.put(offset, 4);
            w.put(0, 4);
            w.put(0, 4);
            w.put(size, 4);
            w.put(size, 4);
            w.put(4, 4);  // p_flags
            w.put(type == 4 ? align : 0x1000, 4);
        }
    }
    return w.bytes + body;
}

const Note version{std::string("qarn", 5), 1, std::string("1.0.0 (git v1.0.0-5-gabc1234)", 30)};
const Note buildId{std::string("GNU", 4), 3, std::string("\x01\x23\xab\xff", 4)};
const Note property{std::string("GNU", 4), 5, std::string(12, '\x07')};
const Note otherType{std::string("qarn", 5), 2, std::string("not the version", 16)};

TEST(PluginBuildTest, ReadsTheNotesInEveryLayout) {
    struct Case {
        const char* what;
        std::string image;
        const char* version;
        const char* buildId;
    } cases[] = {
        {"64-bit little-endian", elf(true, false, {buildId, version}), version.desc.c_str(),
         "0123abff"},
        {"32-bit little-endian", elf(false, false, {version, buildId}), version.desc.c_str(),
         "0123abff"},
        {"32-bit big-endian", elf(false, true, {version}), version.desc.c_str(), ""},
        {"64-bit big-endian", elf(true, true, {buildId}), "", "0123abff"},
        {"8-byte aligned notes", elf(true, false, {property, version}, 8), version.desc.c_str(),
         ""},
        {"another type of ours", elf(true, false, {otherType}), "", ""},
        {"no notes", elf(false, false, {}), "", ""},
    };
    for (const Case& c : cases) {
        qarn::PluginBuild build;
        std::string error;
        ASSERT_TRUE(qarn::parsePluginBuild(c.image, build, error)) << c.what << ": " << error;
        EXPECT_EQ(build.version, c.version) << c.what;
        EXPECT_EQ(build.buildId, c.buildId) << c.what;
    }
}

TEST(PluginBuildTest, RefusesDamagedFiles) {
    const std::string good = elf(true, false, {version});
    std::string hugeName = good;
    hugeName[64 + 2 * 56] = '\x7f';  // the first note's name size
    std::string farNotes = good;
    farNotes[64 + 56 + 8 + 2] = '\x10';  // the note segment's offset, beyond the file
    std::string badClass = good;
    badClass[4] = 3;
    std::string manyHeaders = good;
    manyHeaders[56] = '\x40';  // e_phnum: more headers than the file holds
    const struct {
        const char* what;
        std::string image;
        const char* error;
    } cases[] = {
        {"not ELF", std::string("MZ\x90\0\3\0\0\0\4\0\0\0\xff\xff\0\0", 16), "not an ELF file"},
        {"empty", "", "not an ELF file"},
        {"header cut short", good.substr(0, 40), "the ELF header is cut short"},
        {"unknown class", badClass, "unknown ELF class or byte order"},
        {"program headers outside", manyHeaders, "the program headers lie outside the file"},
        {"note segment outside", farNotes, "a note segment lies outside the file"},
        {"note past its segment", hugeName, "a note runs past its segment"},
        {"segment cut inside a note", good.substr(0, good.size() - 8),
         "a note segment lies outside the file"},
    };
    for (const auto& c : cases) {
        qarn::PluginBuild build{"stale", "stale"};
        std::string error;
        EXPECT_FALSE(qarn::parsePluginBuild(c.image, build, error)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_TRUE(build.version.empty() && build.buildId.empty()) << c.what;
    }
}

TEST(PluginBuildTest, NamesTheFileItCannotRead) {
    qarn::PluginBuild build;
    std::string error;
    EXPECT_FALSE(qarn::readPluginBuild("/nonexistent/libqarn.so", build, error));
    EXPECT_EQ(error, "/nonexistent/libqarn.so: No such file or directory");
}

}  // namespace
