#pragma once

#include "fs/File.h"
#include "zip/WinZipAes.h"
#include "zip/ZipDirectory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct zip zip_t;
typedef struct zip_file zip_file_t;
typedef struct zip_error zip_error_t;

namespace kavlento::zip {

// An archive opened for reading. Its directory is read and checked by
// ZipDirectory; the entries are listed only when it passed.
//
// Several threads may read entries at once. AES entries, the ones Kavlento
// writes, are read straight from the file; others go through libzip, opened on
// the same file when the first of them is read, one call at a time.
class ZipReader {
public:
    // `path` names the open archive in messages.
    ZipReader(fs::UniqueFd file, const std::string& path, const NamePolicy& names);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // One entry opened through libzip, which decrypts and decompresses it.
    class LibzipEntry {
    public:
        LibzipEntry(const ZipReader& archive, const ZipEntry& entry, const std::string& password);
        ~LibzipEntry();
        LibzipEntry(const LibzipEntry&) = delete;
        LibzipEntry& operator=(const LibzipEntry&) = delete;

        // 0 at the end of the entry.
        std::size_t read(std::uint8_t* buffer, std::size_t capacity);

    private:
        const ZipReader& archive_; // outlives its entries
        zip_file_t* file_;
    };

    const std::string& path() const { return path_; }
    const std::vector<ZipEntry>& entries() const { return directory_.entries(); }
    const std::optional<ArchiveOrigin>& origin() const { return directory_.origin(); }

    // Exactly `size` stored bytes from `offset` on.
    void readStored(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) const;
    // The salt a WinZip AES entry is stored with, at the start of its data.
    AesSalt saltOf(const ZipEntry& entry) const;

    // The archive at `path`, opened for reading (a link to it is followed).
    static fs::UniqueFd openArchive(const std::string& path);

private:
    class LibzipInput;

    zip_t* libzip() const; // with mutex_ held
    // The failure of the file beneath libzip where there was one, else libzip's own.
    [[noreturn]] void throwLibzipFailure(zip_error_t* error) const;

    std::string path_;
    fs::UniqueFd fd_;
    ZipDirectory directory_;
    mutable std::mutex mutex_;
    mutable std::unique_ptr<LibzipInput> input_; // what libzip reads, once opened
    mutable zip_t* zip_ = nullptr;
};

// The plain content of one entry, read in pieces. Decryption (traditional or
// AES), decompression and every check (password, CRC, HMAC, the declared size)
// happen on the way; read() returns 0 only once the whole entry has passed them.
// The archive, and the entry (one of its entries()), must outlive the reader.
class EntryReader {
public:
    EntryReader(const ZipReader& archive, const ZipEntry& entry, const std::string& password);
    // An AES entry whose keys come from `keys` instead of the password.
    EntryReader(const ZipReader& archive, const ZipEntry& entry, const KeySource& keys);
    ~EntryReader();
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    std::size_t read(std::uint8_t* buffer, std::size_t capacity);

private:
    class Source;
    class AesSource;
    class LibzipSource;

    static void requireKnownMethod(const ZipReader& archive, const ZipEntry& entry);

    std::unique_ptr<Source> source_;
    const ZipEntry& entry_; // one of the archive's entries(), which outlive the reader
    std::string archivePath_;
    std::uint64_t produced_ = 0;
    std::uint32_t crc_ = 0;
    bool finished_ = false;
};

} // namespace kavlento::zip
