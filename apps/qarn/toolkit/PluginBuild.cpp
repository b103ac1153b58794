#include <qarn/toolkit/PluginBuild.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace qarn {

namespace {

constexpr uint32_t PtNote = 4;
constexpr uint32_t QarnVersionNote = 1;
constexpr uint32_t GnuBuildIdNote = 3;
// A plug-in is far smaller; a bigger file is not what the user meant.
constexpr std::streamoff MaxFile = 256 * 1024 * 1024;

// Bounds-checked reads in the file's byte order.
class Image {
  public:
    Image(const std::string& bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}

    bool has(uint64_t offset, uint64_t size) const {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    uint64_t read(uint64_t offset, int size) const {
        uint64_t value = 0;
        for (int i = 0; i < size; ++i) {
            const int at = big_ ? i : size - 1 - i;
            value = (value << 8) | static_cast<unsigned char>(bytes_[offset + at]);
        }
        return value;
    }
    const std::string& bytes() const { return bytes_; }

  private:
    const std::string& bytes_;
    bool big_;
};

uint64_t alignUp(uint64_t n, uint64_t to) {
    return (n + to - 1) / to * to;
}

std::string hex(const std::string& bytes, uint64_t offset, uint64_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint64_t i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(bytes[offset + i]);
        text += digits[b >> 4];
        text += digits[b & 0xf];
    }
    return text;
}

// Walks the notes of one PT_NOTE segment.
bool readNotes(const Image& image, uint64_t offset, uint64_t size, uint64_t align,
               PluginBuild& build, std::string& error) {
    const uint64_t end = offset + size;
    while (offset < end) {
        if (end - offset < 12) {
            error = "a note header runs past its segment";
            return false;
        }
        const uint64_t nameSize = image.read(offset, 4);
        const uint64_t descSize = image.read(offset + 4, 4);
        const uint64_t type = image.read(offset + 8, 4);
        // Name and description start at the alignment counted from the note's start (4, or 8
        // for the 64-bit property notes); the sizes are 32-bit, so these sums cannot overflow.
        const uint64_t name = offset + 12;
        const uint64_t desc = offset + alignUp(12 + nameSize, align);
        const uint64_t next = offset + alignUp(desc - offset + descSize, align);
        if (next > end) {
            error = "a note runs past its segment";
            return false;
        }
        const std::string owner = image.bytes().substr(name, nameSize);
        if (owner == std::string("qarn", 5) && type == QarnVersionNote) {
            const std::string text = image.bytes().substr(desc, descSize);
            build.version = text.substr(0, text.find('\0'));
        } else if (owner == std::string("GNU", 4) && type == GnuBuildIdNote) {
            build.buildId = hex(image.bytes(), desc, descSize);
        }
        offset = next;
    }
    return true;
}

}  // namespace

bool parsePluginBuild(const std::string& bytes, PluginBuild& build, std::string& error) {
    build = PluginBuild{};
    if (bytes.size() < 16 || bytes.compare(0, 4, "\177ELF") != 0) {
        error = "not an ELF file";
        return false;
    }
    const int elfClass = bytes[4];
    const int data = bytes[5];
    if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2)) {
        error = "unknown ELF class or byte order";
        return false;
    }
    const bool wide = elfClass == 2;
    const Image image(bytes, data == 2);
    const uint64_t headerSize = wide ? 64 : 52;
    if (!image.has(0, headerSize)) {
        error = "the ELF header is cut short";
        return false;
    }
    const uint64_t phoff = wide ? image.read(32, 8) : image.read(28, 4);
    const uint64_t phentsize = image.read(wide ? 54 : 42, 2);
    const uint64_t phnum = image.read(wide ? 56 : 44, 2);
    if (phnum > 0 && (phentsize < (wide ? 56u : 32u) || !image.has(phoff, phentsize * phnum))) {
        error = "the program headers lie outside the file";
        return false;
    }
    for (uint64_t i = 0; i < phnum; ++i) {
        const uint64_t ph = phoff + i * phentsize;
        if (image.read(ph, 4) != PtNote) {
            continue;
        }
        const uint64_t offset = wide ? image.read(ph + 8, 8) : image.read(ph + 4, 4);
        const uint64_t size = wide ? image.read(ph + 32, 8) : image.read(ph + 16, 4);
        const uint64_t align = wide ? image.read(ph + 48, 8) : image.read(ph + 28, 4);
        if (!image.has(offset, size)) {
            error = "a note segment lies outside the file";
            return false;
        }
        if (!readNotes(image, offset, size, align == 8 ? 8 : 4, build, error)) {
            return false;
        }
    }
    return true;
}

bool readPluginBuild(const std::string& path, PluginBuild& build, std::string& error) {
    build = PluginBuild{};
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || size > MaxFile) {
        error = path + ": not a plug-in (size " + std::to_string(size) + " bytes)";
        return false;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(&bytes[0], size)) {
        error = path + ": read failed";
        return false;
    }
    if (!parsePluginBuild(bytes, build, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace qarn
