#pragma once

#include "base/TreeEntry.h"
#include "fs/File.h"
#include "zip/ZipFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavlento::zip {

// Writes a ZIP archive to an open file strictly front to back: every write
// goes to the end of the file, none into what is already there, which some
// file systems (FAT through FUSE, network and cloud folders) do not survive.
// The one exception is an entry taken back (abandonEntry): the file is cut
// back to where it began, and what follows is written at that new end. A
// file's sizes and CRC follow its data in a data descriptor; ZIP64 records
// are used where sizes, offsets or the number of entries need them.
class ZipWriter {
public:
    static constexpr std::size_t kDefaultBufferSize = 4u << 20;

    // `file` must outlive the writer.
    ZipWriter(const fs::UniqueFd& file, std::string pathForErrors,
              std::size_t bufferSize = kDefaultBufferSize);

    // `entry.path` must stay valid until finish(). `method` is store or deflate,
    // before encryption; `encrypted` means WinZip AES-256.
    void beginEntry(const TreeEntry& entry, std::uint16_t method, bool encrypted);
    void write(const std::uint8_t* data, std::size_t size);
    void endEntry(std::uint64_t uncompressedSize, std::uint32_t crc);
    // Takes back the last entry begun, as if it had never been written: the
    // file is cut back to where the entry began.
    void abandonEntry();
    // Where and when the archive is written (see ArchiveOrigin).
    void setOrigin(const ArchiveOrigin& origin);
    // Writes the central directory and the end records, and flushes.
    void finish();

private:
    struct Entry {
        TreeEntry tree;
        std::uint16_t method = 0;
        bool encrypted = false;
        bool utf8 = true; // whether the name is valid UTF-8
        std::uint64_t localOffset = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        std::uint32_t crc = 0;
        bool zip64Local = false;
        bool described = false; // sizes and CRC in a data descriptor after the data
    };

    void append(const void* data, std::size_t size);
    void flush();
    static std::string localHeader(const Entry& entry);
    static std::string dataDescriptor(const Entry& entry);
    static std::string centralHeader(const Entry& entry, const std::string& origin);

    const fs::UniqueFd& file_;
    std::string path_;
    std::size_t bufferSize_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t bufferStart_ = 0; // file offset of buffer_[0]
    std::vector<Entry> entries_;
    std::uint64_t dataStart_ = 0;
    std::string origin_; // the field's data
};

} // namespace kavlento::zip
