#pragma once

#include "archive/WinZipAes.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

typedef struct zip zip_t;
typedef struct zip_file zip_file_t;

namespace kavlento::archive {

struct ArchiveEntry {
    enum class Kind { File, Folder, Link };
    std::uint64_t index = 0;
    std::string path; // safe, relative, '/'-separated, without a final '/'
    Kind kind = Kind::File;
    std::uint32_t permissions = 0644;
    std::time_t modified = 0;
    std::uint64_t size = 0;           // as the archive declares it
    std::uint64_t compressedSize = 0; // stored bytes, encryption included
    std::uint16_t method = 0;         // compression, before encryption
    std::uint16_t encryption = 0;     // libzip's encryption method number
    std::uint32_t crc = 0;
};

// An archive opened for reading with libzip, which checks the consistency of
// its directories. Its entries are listed only when every name is safe to
// extract: relative, without "..", without two entries for one path, and no
// entry below a file or a link.
//
// Several threads may read entries at once: they share this one handle (one
// directory in memory, and the very file that was listed), and every call into
// libzip is serialised.
class ZipReader {
public:
    explicit ZipReader(const std::string& path);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // One entry opened for reading: its stored bytes when `raw`, else what
    // libzip decrypts and decompresses with `password`.
    class OpenEntry {
    public:
        OpenEntry(const ZipReader& archive, const ArchiveEntry& entry, bool raw,
                  const std::string& password);
        ~OpenEntry();
        OpenEntry(const OpenEntry&) = delete;
        OpenEntry& operator=(const OpenEntry&) = delete;

        // 0 at the end of the entry.
        std::size_t read(std::uint8_t* buffer, std::size_t capacity);

    private:
        const ZipReader& archive_;
        zip_file_t* file_;
    };

    const std::string& path() const { return path_; }
    std::vector<ArchiveEntry> entries() const;

private:
    std::string path_;
    zip_t* zip_ = nullptr;
    mutable std::mutex mutex_;
};

// The plain content of one entry, read in pieces. Decryption (traditional or
// AES), decompression and every check (password, CRC, HMAC, the declared size)
// happen on the way; read() returns 0 only once the whole entry has passed them.
class EntryReader {
public:
    EntryReader(const ZipReader& archive, const ArchiveEntry& entry, const std::string& password);
    ~EntryReader();
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    std::size_t read(std::uint8_t* buffer, std::size_t capacity);

private:
    class Source;
    class AesSource;
    class LibzipSource;

    std::unique_ptr<Source> source_;
    const ArchiveEntry& entry_;
    std::string archivePath_;
    std::uint64_t produced_ = 0;
    std::uint32_t crc_ = 0;
    bool finished_ = false;
};

// A link's target is safe when, read from the link's own folder, it stays inside
// the extraction folder and passes through no other link of the archive.
bool isSafeLinkTarget(const std::string& linkPath, const std::string& target,
                      const std::set<std::string>& linkPaths);

} // namespace kavlento::archive
