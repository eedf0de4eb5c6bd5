#pragma once

#include <QString>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::archive {

struct ArchiveEntry {
    enum class Kind : std::uint8_t { File, Folder, Link };
    enum class Encryption : std::uint8_t { None, Traditional, Aes128, Aes192, Aes256 };

    std::string_view path;            // safe, relative, '/'-separated, without a final '/'
    std::uint64_t dataOffset = 0;     // the first stored byte, after the local header
    std::uint64_t size = 0;           // as the archive declares it
    std::uint64_t compressedSize = 0; // stored bytes, encryption included
    std::time_t modified = 0;
    std::uint32_t index = 0; // position in the central directory
    std::uint32_t crc = 0;
    std::uint16_t permissions = 0644;
    std::uint16_t method = 0; // compression, before encryption
    Encryption encryption = Encryption::None;
    Kind kind = Kind::File;

    bool aes() const { return encryption >= Encryption::Aes128; }
};

// Names kept end to end in large blocks, so that an archive of many small
// files costs little more memory than its names.
class NameStore {
public:
    std::string_view add(const std::string& name);

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
};

// The central directory of a ZIP archive, read in one pass and held compactly:
// the memory a restore needs grows by a few dozen bytes per entry.
//
// Everything a restore relies on is checked first: the end records, every
// central record against its local header, that no two entries share stored
// bytes, and that every name is safe to extract (relative, without "..",
// without two entries for one path, and no entry below a file or a link).
class ZipDirectory {
public:
    ZipDirectory(int fd, const std::string& path);

    // Entries in directory order; the archive's root ("./") is not listed.
    const std::vector<ArchiveEntry>& entries() const { return entries_; }
    // Every record of the central directory, the root included.
    std::uint64_t recordCount() const { return recordCount_; }

private:
    NameStore names_;
    std::vector<ArchiveEntry> entries_;
    std::uint64_t recordCount_ = 0;
};

// The failures of reading an archive, with the archive's name.
[[noreturn]] void throwDamagedArchive(const std::string& archive, const QString& detail);
[[noreturn]] void throwUnsupportedEntry(const std::string& archive);
[[noreturn]] void throwArchiveNotFound(const std::string& archive);

} // namespace kavlento::archive
