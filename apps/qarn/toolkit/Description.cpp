#include <qarn/toolkit/Description.h>

#include <zlib.h>

#include <cstring>

namespace qarn {

namespace {

constexpr char SizeKey[] = "compressedXML=";
constexpr char EndMarker[] = "<<ORBA_XML_END>>";
// No sane description comes near this; a bigger number means a broken size line.
constexpr size_t MaxCompressed = 16 * 1024 * 1024;

}  // namespace

bool inflateDescription(const char* sizeLine, std::string& xml, std::string& error) {
    if (sizeLine == nullptr) {
        error = "the plug-in publishes no description";
        return false;
    }
    const size_t keyLength = sizeof SizeKey - 1;
    if (std::strncmp(sizeLine, SizeKey, keyLength) != 0) {
        error = "the description does not start with \"compressedXML=\"";
        return false;
    }
    size_t compressed = 0;
    const char* p = sizeLine + keyLength;
    if (*p == '\0') {
        error = "the description's size line has no number";
        return false;
    }
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || compressed > MaxCompressed) {
            error = std::string("the description's size line is broken: ") + sizeLine;
            return false;
        }
        compressed = compressed * 10 + static_cast<size_t>(*p - '0');
    }
    const auto* stream = reinterpret_cast<const unsigned char*>(p + 1);
    // The end marker sits right behind the stream: a wrong size shows here before inflating.
    if (std::memcmp(stream + compressed, EndMarker, sizeof EndMarker) != 0) {
        error = "the description's end marker is not where its size line says";
        return false;
    }

    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        error = "zlib cannot start";
        return false;
    }
    z.next_in = const_cast<unsigned char*>(stream);
    z.avail_in = static_cast<uInt>(compressed);
    xml.clear();
    unsigned char chunk[16384];
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            break;
        }
        xml.append(reinterpret_cast<const char*>(chunk), sizeof chunk - z.avail_out);
    } while (rc != Z_STREAM_END && (z.avail_in > 0 || z.avail_out == 0));
    const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    if (!whole) {
        if (rc == Z_STREAM_END) {
            error = "the description has bytes after its zlib stream";
        } else if (rc == Z_OK || rc == Z_BUF_ERROR) {
            error = "the description's zlib stream is cut short";
        } else {
            error = "the description does not inflate (zlib error " + std::to_string(rc) + ")";
        }
        return false;
    }
    return true;
}

}  // namespace qarn
