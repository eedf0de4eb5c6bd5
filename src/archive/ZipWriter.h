#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kavlento::archive {

// What a header says about one entry.
struct ZipEntryInfo {
    std::string name;           // '/'-separated; folders end with '/'
    std::uint32_t unixMode = 0; // type and permission bits
    std::time_t modified = 0;
    std::uint16_t method = 0;   // store or deflate, before encryption
    bool encrypted = false;     // WinZip AES-256
    std::uint64_t sizeHint = 0; // the size as scanned, to choose ZIP64 up front
};

// Writes a ZIP archive to an open file, one entry after the other. Sizes are
// patched into each local header once its data is written, so no data
// descriptors are needed; ZIP64 records are used where sizes, offsets or the
// number of entries need them.
class ZipWriter {
public:
    ZipWriter(int fd, std::string pathForErrors);

    void beginEntry(const ZipEntryInfo& info);
    void write(const std::uint8_t* data, std::size_t size);
    void endEntry(std::uint64_t uncompressedSize, std::uint32_t crc);
    // Writes the central directory and the end records, and flushes.
    void finish();

    std::size_t entryCount() const { return entries_.size(); }

private:
    struct Entry {
        ZipEntryInfo info;
        std::uint64_t localOffset = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        std::uint32_t crc = 0;
        bool zip64Local = false;
    };

    void append(const void* data, std::size_t size);
    void flush();
    void patch(std::uint64_t offset, const std::string& bytes);
    static std::string localHeader(const Entry& entry);
    static std::string centralHeader(const Entry& entry);

    int fd_;
    std::string path_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t bufferStart_ = 0; // file offset of buffer_[0]
    std::vector<Entry> entries_;
    std::uint64_t dataStart_ = 0;
};

} // namespace kavlento::archive
