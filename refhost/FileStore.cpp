#include <qarn/refhost/FileStore.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace refhost {

namespace {

enum class Part { Section, Key, Value };

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string escape(const std::string& text, Part part) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        const bool edge = i == 0 || i + 1 == text.size();
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 0x0F];
        } else if ((c == '=' && part == Part::Key) || (c == ']' && part == Part::Section) ||
                   (c == ' ' && edge) ||
                   (i == 0 && part == Part::Key && (c == '#' || c == ';' || c == '['))) {
            // Blanks at either end would be trimmed, and these would start a comment or a
            // section, or end a key or a section name.
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool unescape(const std::string& raw, std::string& out, std::string& error) {
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out += raw[i];
            continue;
        }
        if (++i == raw.size()) {
            error = "backslash at the end of the line";
            return false;
        }
        const char c = raw[i];
        switch (c) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                const int hi = i + 1 < raw.size() ? hexValue(raw[i + 1]) : -1;
                const int lo = i + 2 < raw.size() ? hexValue(raw[i + 2]) : -1;
                if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) {
                    error = "bad \\x escape";
                    return false;
                }
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            case '\\':
            case '=':
            case '[':
            case ']':
            case '#':
            case ';':
            case ' ':
                out += c;
                break;
            default:
                error = std::string("unknown escape \\") + c;
                return false;
        }
    }
    return true;
}

// Strips blanks at both ends, keeping a trailing blank that a backslash escapes.
std::string trimRaw(const std::string& raw) {
    size_t begin = 0;
    while (begin < raw.size() && isBlank(raw[begin])) {
        ++begin;
    }
    size_t end = raw.size();
    while (end > begin && isBlank(raw[end - 1])) {
        size_t slashes = 0;
        while (end - 1 - slashes > begin && raw[end - 2 - slashes] == '\\') {
            ++slashes;
        }
        if (slashes % 2 == 1) {
            break;
        }
        --end;
    }
    return raw.substr(begin, end - begin);
}

// Position of the first `wanted` that no backslash escapes, or npos.
size_t findUnescaped(const std::string& text, char wanted, size_t from = 0) {
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == wanted) {
            return i;
        }
    }
    return std::string::npos;
}

// The first line of every file the store writes; its last line is endLine() of all before it.
// Both are comments to the line parser, so a file that loses its first line by a human's hand
// is read as a hand-written one.
constexpr char marker[] = "# qarn store 2";
constexpr char markerNote[] =
    "# Written with a checksum in its last line. To edit it by hand, delete the first line.\n";
constexpr char endPrefix[] = "# end crc32=";

// CRC-32 as zlib computes it, so a file can be checked with common tools.
uint32_t crc32(const char* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<unsigned char>(data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

std::string endLine(const std::string& before) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", crc32(before.data(), before.size()));
    return endPrefix + std::string(hex);
}

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

// A file the store wrote must still be whole: the store only ever replaces it by a rename, so a
// file that is not is cut (or changed) by something else, and its values can't be trusted. The
// last line is the only one that starts with "# end" (keys starting with '#' are escaped), so no
// cut of a whole file yields another whole one. Files without the marker are hand-written.
bool checkWhole(const std::string& text, std::string& error) {
    const std::string markerLine = std::string(marker) + "\n";
    if (text.empty()) {
        error = "the file is empty (cut before its first line)";
        return false;
    }
    if (text.size() < markerLine.size() && markerLine.compare(0, text.size(), text) == 0) {
        error = "the file ends inside its first line (cut)";
        return false;
    }
    if (firstLine(text) != marker) {
        return true;
    }
    const size_t lineEnd = text.size() - 1;
    const size_t start = text[lineEnd] == '\n' ? text.rfind('\n', lineEnd - 1) + 1 : 0;
    std::string last = text.substr(start, lineEnd - start);
    if (!last.empty() && last.back() == '\r') {
        last.pop_back();
    }
    if (text[lineEnd] != '\n' || last.size() != sizeof endPrefix - 1 + 8 ||
        last.compare(0, sizeof endPrefix - 1, endPrefix) != 0) {
        error = "no end line (the file was cut)";
        return false;
    }
    if (last != endLine(text.substr(0, start))) {
        error =
            "checksum mismatch (the file was cut or changed after it was written; to keep "
            "hand edits, delete its first line)";
        return false;
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool makeFolders(const std::string& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        errno = ENOTDIR;
        return S_ISDIR(st.st_mode);
    }
    const std::string parent = folderOf(folder);
    if (parent != folder && !makeFolders(parent)) {
        return false;
    }
    return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Holds the folder's lock for one change: every writer takes it, so a change re-reads and
// writes the file without another program's change slipping in between.
class FolderLock {
  public:
    explicit FolderLock(const std::string& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Temporary files left by a writer that died mid-change; only removed under the lock, when no
// writer can be busy with one.
void removeStaleTemporaries(int folderFd, const std::string& baseName) {
    const int dupFd = fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = dupFd >= 0 ? fdopendir(dupFd) : nullptr;
    if (dir == nullptr) {
        if (dupFd >= 0) {
            ::close(dupFd);
        }
        return;
    }
    const std::string prefix = baseName + ".tmp.";
    while (const dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
            unlinkat(folderFd, entry->d_name, 0);
        }
    }
    closedir(dir);
}

// A name beside `path` for a copy kept aside, unused so far: earlier copies are never replaced.
// Only called under the folder's lock, so no other writer takes the name in between.
std::string asideName(const std::string& path) {
    const time_t now = time(nullptr);
    struct tm utc {};
    char stamp[32] = "";
    if (gmtime_r(&now, &utc) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    }
    const std::string base = path + ".bad-" + stamp;
    std::string name = base;
    struct stat st {};
    for (int n = 2; lstat(name.c_str(), &st) == 0; ++n) {
        name = base + "-" + std::to_string(n);
    }
    return name;
}

}  // namespace

FileStore::FileStore(std::string path) : path_(std::move(path)) {}

bool FileStore::damaged() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return !damage_.empty();
}

std::string FileStore::error() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

int FileStore::failedWrites() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return failedWrites_;
}

void* FileStore::ConvertTo(const char* name) {
    if (name != nullptr && std::strcmp(name, "IPermanentStorage2") == 0) {
        return static_cast<IPermanentStorage2*>(this);
    }
    if (name != nullptr && std::strcmp(name, "IPermanentStorage") == 0) {
        return static_cast<IPermanentStorage*>(this);
    }
    return nullptr;
}

const char* FileStore::GetImpName() const {
    return "RefHostFileStore";
}

int FileStore::GetImpVersion() const {
    return 100;
}

std::string FileStore::serialize(const Sections& sections) {
    std::string text = std::string(marker) + "\n" + markerNote;
    for (const auto& [name, keys] : sections) {
        if (keys.empty()) {
            continue;
        }
        text += "\n[" + escape(name, Part::Section) + "]\n";
        for (const auto& [key, value] : keys) {
            text += escape(key, Part::Key) + "=" + escape(value, Part::Value) + "\n";
        }
    }
    return text + endLine(text) + "\n";
}

bool FileStore::parse(const std::string& text, Sections& sections, std::string& error) {
    sections.clear();
    if (!checkWhole(text, error)) {
        return false;
    }
    Section* current = nullptr;
    size_t start = 0;
    for (int lineNo = 1; start < text.size(); ++lineNo) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string where = "line " + std::to_string(lineNo) + ": ";
        if (line.find('\0') != std::string::npos) {
            error = where + "NUL byte";
            return false;
        }
        const std::string trimmed = trimRaw(line);
        if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') {
            continue;
        }
        std::string detail;
        if (trimmed[0] == '[') {
            const size_t close = findUnescaped(trimmed, ']', 1);
            if (close == std::string::npos || close + 1 != trimmed.size()) {
                error = where + "section header without its closing ]";
                return false;
            }
            std::string name;
            if (!unescape(trimRaw(trimmed.substr(1, close - 1)), name, detail)) {
                error = where + detail;
                return false;
            }
            current = &sections[name];
            continue;
        }
        const size_t eq = findUnescaped(trimmed, '=');
        if (eq == std::string::npos) {
            error = where + "expected key=value";
            return false;
        }
        if (current == nullptr) {
            error = where + "key=value before the first [section]";
            return false;
        }
        std::string key;
        std::string value;
        if (!unescape(trimRaw(trimmed.substr(0, eq)), key, detail) ||
            !unescape(trimRaw(trimmed.substr(eq + 1)), value, detail)) {
            error = where + detail;
            return false;
        }
        if (key.empty()) {
            error = where + "empty key";
            return false;
        }
        (*current)[key] = value;
    }
    return true;
}

bool FileStore::readFile(Sections& sections, bool& damaged) {
    damaged = false;
    sections.clear();
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error_ = path_ + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error_ = path_ + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    std::string detail;
    if (!parse(text, sections, detail)) {
        error_ = path_ + ": damaged store, " + detail;
        damaged = true;
        sections.clear();
        return false;
    }
    return true;
}

bool FileStore::load() {
    const std::lock_guard<std::mutex> lock(mutex_);
    error_.clear();
    bool damaged = false;
    if (!readFile(sections_, damaged)) {
        damage_ = error_;
        return false;
    }
    damage_.clear();
    return true;
}

bool FileStore::reset(std::string& keptCopy) {
    const std::lock_guard<std::mutex> guard(mutex_);
    keptCopy.clear();
    const std::string folder = folderOf(path_);
    FolderLock lock(folder);
    if (lock.fd() < 0) {
        if (errno != ENOENT) {
            error_ = folder + ": " + std::strerror(errno);
            return false;
        }
    } else {
        struct stat st {};
        if (lstat(path_.c_str(), &st) != 0 && errno != ENOENT) {
            error_ = path_ + ": " + std::strerror(errno);
            return false;
        }
        if (st.st_mode != 0 && S_ISDIR(st.st_mode)) {
            error_ = path_ + ": is a folder, not a store file; not moved aside";
            return false;
        }
        if (st.st_mode != 0) {
            const std::string aside = asideName(path_);
            if (rename(path_.c_str(), aside.c_str()) != 0) {
                error_ = path_ + ": cannot be moved aside: " + std::strerror(errno);
                return false;
            }
            keptCopy = aside;
        }
    }
    sections_.clear();
    damage_.clear();
    error_.clear();
    // Like a change, the move is only durable once the folder is on disk.
    if (!keptCopy.empty() && fsync(lock.fd()) != 0) {
        error_ = folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool FileStore::writeFile(const Sections& sections) {
    std::string tmp = path_ + ".tmp.XXXXXX";
    const int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0) {
        error_ = path_ + ": cannot create a temporary file: " + std::strerror(errno);
        return false;
    }
    struct stat old {};
    const mode_t mode = stat(path_.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    const bool ok = fchmod(fd, mode) == 0 && writeAll(fd, serialize(sections)) && fsync(fd) == 0;
    const int err = errno;
    if (::close(fd) != 0 || !ok) {
        error_ = path_ + ": cannot write: " + std::strerror(ok ? errno : err);
        unlink(tmp.c_str());
        return false;
    }
    if (rename(tmp.c_str(), path_.c_str()) != 0) {
        error_ = path_ + ": cannot replace: " + std::strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

template <typename Edit>
bool FileStore::commit(Edit edit) {
    if (!commitOnce(edit)) {
        ++failedWrites_;
        return false;
    }
    return true;
}

template <typename Edit>
bool FileStore::commitOnce(Edit& edit) {
    const std::string folder = folderOf(path_);
    if (!makeFolders(folder)) {
        error_ = folder + ": cannot create the folder: " + std::strerror(errno);
        return false;
    }
    FolderLock lock(folder);
    if (lock.fd() < 0) {
        error_ = folder + ": " + std::strerror(errno);
        return false;
    }
    Sections disk;
    bool damaged = false;
    if (!readFile(disk, damaged)) {
        if (damaged) {
            // The user must see a damaged file before anything replaces it; it is read again
            // under the lock every time, so a file damaged after the load is caught too.
            damage_ = error_;
            sections_.clear();
            error_ += "; changes are refused until the store is reset";
        }
        return false;
    }
    damage_.clear();  // whole again (mended by hand, or reset by another program)
    Sections changed = disk;
    if (edit(changed)) {
        const size_t slash = path_.rfind('/');
        removeStaleTemporaries(lock.fd(),
                               slash == std::string::npos ? path_ : path_.substr(slash + 1));
        if (!writeFile(changed)) {
            sections_ = std::move(disk);  // what the file still holds
            return false;
        }
        sections_ = std::move(changed);
        // The rename is only durable once the folder itself is on disk.
        if (fsync(lock.fd()) != 0) {
            error_ = folder + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    sections_ = std::move(disk);
    return true;
}

int FileStore::SetValue(const char* section, const char* key, const char* value) {
    if (section == nullptr || key == nullptr || value == nullptr || key[0] == '\0') {
        return 0;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return commit([&](Sections& s) {
        Section& keys = s[section];
        const auto it = keys.find(key);
        if (it != keys.end() && it->second == value) {
            return false;
        }
        keys[key] = value;
        return true;
    })
               ? 1
               : 0;
}

const std::string* FileStore::findValue(const char* section, const char* key) const {
    if (section == nullptr || key == nullptr) {
        return nullptr;
    }
    const auto s = sections_.find(section);
    if (s == sections_.end()) {
        return nullptr;
    }
    const auto k = s->second.find(key);
    return k == s->second.end() ? nullptr : &k->second;
}

const char* FileStore::GetValue(const char* section, const char* key) {
    // Another thread's change must not pull the text from under the caller.
    thread_local std::string copy;
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::string* value = findValue(section, key);
    if (value == nullptr) {
        return nullptr;
    }
    copy = *value;
    return copy.c_str();
}

int FileStore::RemoveValue(const char* section, const char* key) {
    if (section == nullptr || key == nullptr) {
        return 0;
    }
    bool removed = false;
    const std::lock_guard<std::mutex> lock(mutex_);
    const bool ok = commit([&](Sections& s) {
        const auto sec = s.find(section);
        if (sec == s.end() || sec->second.erase(key) == 0) {
            return false;
        }
        if (sec->second.empty()) {
            s.erase(sec);
        }
        removed = true;
        return true;
    });
    return ok && removed ? 1 : 0;
}

int FileStore::GetValueCount(const char* section) {
    if (section == nullptr) {
        return 0;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto s = sections_.find(section);
    return s == sections_.end() ? 0 : static_cast<int>(s->second.size());
}

const std::string* FileStore::findName(const char* section, int index) const {
    if (section == nullptr || index < 0) {
        return nullptr;
    }
    const auto s = sections_.find(section);
    if (s == sections_.end() || static_cast<size_t>(index) >= s->second.size()) {
        return nullptr;
    }
    auto it = s->second.begin();
    std::advance(it, index);
    return &it->first;
}

const char* FileStore::GetValueName(const char* section, int index) {
    thread_local std::string copy;
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::string* name = findName(section, index);
    if (name == nullptr) {
        return nullptr;
    }
    copy = *name;
    return copy.c_str();
}

namespace {

int copyOut(const std::string* text, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    if (text == nullptr || text->size() + 1 > static_cast<size_t>(size)) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, text->c_str(), text->size() + 1);
    return 1;
}

}  // namespace

int FileStore::CopyValue(const char* section, const char* key, char* buffer, int size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return copyOut(findValue(section, key), buffer, size);
}

int FileStore::CopyValueName(const char* section, int index, char* buffer, int size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return copyOut(findName(section, index), buffer, size);
}

}  // namespace refhost
