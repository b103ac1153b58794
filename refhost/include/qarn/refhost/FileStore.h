#pragma once
// The host's permanent store as a human-readable text file:
//
//   # qarn store 2
//   # comment
//   [section]
//   key=value
//   # end crc32=0123abcd
//
// Every change replaces the file atomically (temporary file in the same folder, fsync, rename,
// fsync of the folder), so a crash or a power cut leaves either the old or the new content.
// Changes re-read the file under a lock first, so two programs sharing a store lose nothing.
//
// The first line marks a file the store wrote; the last one holds the CRC-32 of every byte
// before it. A marked file that is cut or changed anywhere is damaged, never read as other
// values. A file without the marker is a hand-written one and is read as it stands; an empty
// file, or one that ends inside the marker, is damaged (the store never writes either).
//
// Several protocol instances on several threads share one store (the gateway's lines): every
// member takes the store's mutex, and the texts handed out as pointers are the calling thread's
// own copies.

#include <map>
#include <mutex>
#include <string>

#include <qarn/host/IPermanentStorage.h>

namespace refhost {

class FileStore final : public IPermanentStorage2 {
  public:
    using Section = std::map<std::string, std::string>;
    using Sections = std::map<std::string, Section>;

    explicit FileStore(std::string path);

    // Reads the file. A missing file is an empty store. False when the file can't be read or is
    // damaged: the store then holds nothing and is damaged(), with error() telling where/why.
    bool load();
    // Changes read the file again first; while it is damaged they are refused (they give 0)
    // rather than replace a file the user may still want. A load(), reset() or change that finds
    // the file whole (mended meanwhile) ends this.
    bool damaged() const;
    // Moves whatever file is at path() aside to path() + ".bad-YYYYMMDDTHHMMSSZ" (UTC; "-N"
    // added when that exists, so no earlier copy is lost), naming it in `keptCopy` ("" when
    // there was no file), and starts an empty store. False, with error(), when it can't.
    bool reset(std::string& keptCopy);
    // The last problem: why load() or reset() failed, or why the last refused change was not
    // stored (with the system's reason where there is one).
    std::string error() const;
    // Changes that were not stored since the store was made; error() tells the last reason.
    int failedWrites() const;
    const std::string& path() const { return path_; }

    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override;
    int GetImpVersion() const override;

    // Nonzero when stored (on disk). When a change fails, the store holds what the file holds.
    int SetValue(const char* section, const char* key, const char* value) override;
    // The value, or null when there is none; valid until the calling thread's next GetValue.
    const char* GetValue(const char* section, const char* key) override;
    // Nonzero when the key existed and is gone from the file.
    int RemoveValue(const char* section, const char* key) override;
    int GetValueCount(const char* section) override;
    // Key names in sorted order; null for an index out of range. Valid until the calling
    // thread's next GetValueName.
    const char* GetValueName(const char* section, int index) override;
    // Nonzero when copied with its NUL into `buffer` of `size` bytes; a value that does not fit
    // is not copied (the buffer gets an empty string) and gives 0.
    int CopyValue(const char* section, const char* key, char* buffer, int size) override;
    int CopyValueName(const char* section, int index, char* buffer, int size) override;

    // The whole file's text, and back. parse gives false with the reason in `error`: "line N:
    // ..." for a line it can't read, else why a marked file is not whole.
    static std::string serialize(const Sections& sections);
    static bool parse(const std::string& text, Sections& sections, std::string& error);

  private:
    // Re-reads the file under the folder's lock, applies `edit` and writes the result. `edit`
    // returns false when it changed nothing (then nothing is written).
    template <typename Edit>
    bool commit(Edit edit);
    template <typename Edit>
    bool commitOnce(Edit& edit);
    bool readFile(Sections& sections, bool& damaged);
    bool writeFile(const Sections& sections);
    // Lookups without the lock; null when there is no such value or name.
    const std::string* findValue(const char* section, const char* key) const;
    const std::string* findName(const char* section, int index) const;

    // Guards everything below; path_ never changes.
    mutable std::mutex mutex_;

    std::string path_;
    std::string error_;
    std::string damage_;  // why the file is not usable; empty when it is
    Sections sections_;
    int failedWrites_ = 0;
};

}  // namespace refhost
