#include "zip/ZipDirectory.h"

#include "base/Failure.h"
#include "fs/File.h"
#include "zip/ZipFormat.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace kavlento::zip {

using namespace fs;

namespace {

constexpr std::size_t kReadAhead = 256 * 1024;

// Code page 437, which names without the UTF-8 flag are read in, from 0x80 up.
const QString kCp437Upper =
    QStringLiteral("ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐"
                   "└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0");

// The entry's name as this system names files: UTF-8 where the archive says so;
// the stored bytes as they are from Unix archivers, which store the names of
// their file system unchanged; from others (DOS, Windows) UTF-8 when the bytes
// are, else code page 437, the format's original character set, and '\\' is
// their folder separator.
std::string entryName(std::string name, bool flaggedUtf8, std::uint8_t host) {
    if (host == kHostUnix) {
        return name;
    }
    std::replace(name.begin(), name.end(), '\\', '/');
    if (flaggedUtf8 || isUtf8(name)) {
        return name;
    }
    QString converted;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        converted += byte < 0x80 ? QChar(byte) : kCp437Upper.at(byte - 0x80);
    }
    return converted.toStdString();
}

// Reads a range of the archive front to back in large pieces.
class SequentialReader {
public:
    SequentialReader(const UniqueFd& file, const std::string& path, std::uint64_t offset,
                     std::uint64_t size)
        : file_(file), path_(path), offset_(offset), unread_(size), buffer_(kReadAhead) {}

    // The next `size` bytes, valid until the next call.
    const unsigned char* next(std::size_t size) {
        if (end_ - begin_ < size) {
            refill(size);
        }
        const unsigned char* bytes = buffer_.data() + begin_;
        begin_ += size;
        return bytes;
    }

    bool atEnd() const { return begin_ == end_ && unread_ == 0; }

private:
    void refill(std::size_t size) {
        const std::size_t kept = end_ - begin_;
        if (kept + unread_ < size) {
            throwDamagedArchive(path_, QStringLiteral("merkez dizini eksik"));
        }
        std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
        buffer_.resize(std::max(buffer_.size(), size));
        const auto more =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - kept, unread_));
        readExactly(file_, offset_, buffer_.data() + kept, more, path_);
        offset_ += more;
        unread_ -= more;
        begin_ = 0;
        end_ = kept + more;
    }

    // Both are arguments of ZipDirectory's constructor, which the reader lives
    // in: they outlive it.
    const UniqueFd& file_;
    const std::string& path_;
    std::uint64_t offset_;
    std::uint64_t unread_;
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Where the central directory lies, from the end records.
struct Layout {
    std::uint64_t count = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

Layout zip64Layout(const UniqueFd& file, const std::string& path, std::uint64_t locatorAt) {
    unsigned char locator[kZip64LocatorSize];
    readExactly(file, locatorAt, locator, sizeof locator, path);
    const std::uint64_t endAt = get64(locator + 8);
    if (get32(locator + 4) != 0 || get32(locator + 16) > 1 || endAt > locatorAt - kZip64EndSize) {
        throwDamagedArchive(path, QStringLiteral("ZIP64 son kaydı bozuk"));
    }
    unsigned char end[kZip64EndSize];
    readExactly(file, endAt, end, sizeof end, path);
    if (get32(end) != kZip64EndSignature || get64(end + 4) != locatorAt - endAt - 12 ||
        get32(end + 16) != 0 || get32(end + 20) != 0 || get64(end + 24) != get64(end + 32)) {
        throwDamagedArchive(path, QStringLiteral("ZIP64 son kaydı bozuk"));
    }
    Layout layout{get64(end + 32), get64(end + 48), get64(end + 40)};
    if (layout.offset > endAt || layout.size != endAt - layout.offset) {
        throwDamagedArchive(path, QStringLiteral("merkez dizininin yeri tutmuyor"));
    }
    return layout;
}

Layout findLayout(const UniqueFd& file, const std::string& path, std::uint64_t fileSize) {
    if (fileSize < kEndSize) {
        throwDamagedArchive(path, QStringLiteral("son kayıt yok"));
    }
    const std::uint64_t tailSize = std::min<std::uint64_t>(fileSize, kEndSize + 0xFFFF);
    const std::uint64_t tailAt = fileSize - tailSize;
    std::vector<unsigned char> tail(static_cast<std::size_t>(tailSize));
    readExactly(file, tailAt, tail.data(), tail.size(), path);
    // The end record is the one whose comment reaches exactly to the end.
    std::size_t at = tail.size() - kEndSize + 1;
    while (at-- > 0) {
        const unsigned char* p = tail.data() + at;
        if (get32(p) == kEndSignature && at + kEndSize + get16(p + 20) == tail.size()) {
            break;
        }
    }
    if (at == static_cast<std::size_t>(-1)) {
        throwDamagedArchive(path, QStringLiteral("son kayıt yok"));
    }
    const unsigned char* end = tail.data() + at;
    const std::uint64_t endAt = tailAt + at;
    if (get16(end + 4) != 0 || get16(end + 6) != 0 || get16(end + 8) != get16(end + 10)) {
        throwDamagedArchive(path, QStringLiteral("birden çok parçalı arşiv"));
    }
    if (endAt >= kZip64LocatorSize) {
        unsigned char signature[4];
        readExactly(file, endAt - kZip64LocatorSize, signature, sizeof signature, path);
        if (get32(signature) == kZip64LocatorSignature) {
            return zip64Layout(file, path, endAt - kZip64LocatorSize);
        }
    }
    Layout layout{get16(end + 10), get32(end + 16), get32(end + 12)};
    if (layout.offset > endAt || layout.size != endAt - layout.offset) {
        throwDamagedArchive(path, QStringLiteral("merkez dizininin yeri tutmuyor"));
    }
    return layout;
}

// Calls `visit(tag, data, size)` for every field of an extra block.
template <typename Visit>
void forEachExtraField(const std::string& path, const unsigned char* extra, std::size_t size,
                       Visit visit) {
    std::size_t at = 0;
    while (at + 4 <= size) {
        const std::uint16_t tag = get16(extra + at);
        const std::uint16_t length = get16(extra + at + 2);
        if (at + 4 + length > size) {
            throwDamagedArchive(path, QStringLiteral("ek alan bozuk"));
        }
        visit(tag, extra + at + 4, length);
        at += 4 + length;
    }
}

// The fields a ZIP64 extra field replaces, in the order it stores them.
struct Sizes {
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t localOffset = 0;
};

void applyZip64(const std::string& path, const unsigned char* data, std::size_t length,
                Sizes& sizes, bool withOffset) {
    std::size_t at = 0;
    auto take = [&](std::uint64_t& field) {
        if (field != kMax32) {
            return;
        }
        if (at + 8 > length) {
            throwDamagedArchive(path, QStringLiteral("ZIP64 alanı eksik"));
        }
        field = get64(data + at);
        at += 8;
    };
    take(sizes.size);
    take(sizes.compressedSize);
    if (withOffset) {
        take(sizes.localOffset);
    }
}

// The NTFS field's time (100 ns steps since 1601, any year) when the entry
// has one; else the extended timestamp's (seconds, 1901 to 2038); else the
// header's two-second local time.
Timestamp modificationTime(const std::string& path, const unsigned char* extra, std::size_t size,
                           std::uint16_t dosTime, std::uint16_t dosDate) {
    std::optional<Timestamp> ntfs;
    std::optional<Timestamp> unix;
    forEachExtraField(path, extra, size,
                      [&](std::uint16_t tag, const unsigned char* data, std::uint16_t length) {
                          if (tag == kExtraTimestamp && length >= 5 && (data[0] & 1) != 0) {
                              unix = Timestamp{static_cast<std::int32_t>(get32(data + 1)), 0};
                          }
                          // Wide enough that hostile sizes cannot wrap the walk around.
                          for (std::size_t at = 4; tag == kExtraNtfs && at + 4 <= length;) {
                              const std::uint16_t attribute = get16(data + at);
                              const std::uint16_t attributeSize = get16(data + at + 2);
                              if (attribute == 1 && attributeSize >= 8 && at + 4 + 8 <= length) {
                                  ntfs = fromNtfsTime(get64(data + at + 4));
                              }
                              at += 4 + attributeSize;
                          }
                      });
    if (ntfs) {
        return *ntfs;
    }
    return unix ? *unix : Timestamp{fromDosTime(DosTime{dosTime, dosDate}), 0};
}

void classify(std::uint16_t madeBy, std::uint32_t attributes, bool folderName, ZipEntry& entry) {
    const std::uint32_t mode = attributes >> 16;
    const bool unixMode = (madeBy >> 8) == kHostUnix && mode != 0;
    entry.mode = 0644;
    if (unixMode) {
        if ((mode & kUnixTypeMask) == kUnixLink) {
            entry.kind = EntryKind::Link;
        } else if ((mode & kUnixTypeMask) == kUnixFolder || folderName) {
            entry.kind = EntryKind::Folder;
        }
        // Set-user and set-group bits are not restored from an archive; the
        // sticky bit (a shared folder's) is.
        entry.mode = mode & 01777;
    } else if (folderName || (attributes & kDosDirectoryAttribute) != 0) {
        entry.kind = EntryKind::Folder;
    }
    if (entry.isFolder() && !unixMode) {
        entry.mode = 0755;
    }
}

void setEncryption(const std::string& path, std::uint16_t flags, const unsigned char* extra,
                   std::size_t extraSize, ZipEntry& entry) {
    if ((flags & kFlagEncrypted) == 0) {
        if (entry.method == kMethodAes) {
            throwUnsupportedEntry(path);
        }
        return;
    }
    if ((flags & kFlagStrongEncryption) != 0) {
        throwUnsupportedEntry(path);
    }
    if (entry.method != kMethodAes) {
        entry.encryption = ZipEntry::Encryption::Traditional;
        return;
    }
    forEachExtraField(path, extra, extraSize,
                      [&](std::uint16_t tag, const unsigned char* data, std::uint16_t length) {
                          if (tag != kExtraAes || length < 7 || data[2] != 'A' || data[3] != 'E' ||
                              data[4] < 1 || data[4] > 3) {
                              return;
                          }
                          entry.encryption = static_cast<ZipEntry::Encryption>(
                              static_cast<int>(ZipEntry::Encryption::Aes128) + data[4] - 1);
                          entry.method = get16(data + 5);
                          entry.crcStored = get16(data) != kAesVendorVersionWithoutCrc;
                      });
    if (!entry.aes()) {
        throwUnsupportedEntry(path);
    }
}

// One central record as stored, and the entry it describes as far as it is
// known before its local header is consulted.
struct CentralRecord {
    std::uint16_t madeBy = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    Sizes sizes;
    std::uint32_t attributes = 0;
    std::string rawName;
    ZipEntry entry;
    std::string systemName; // the name as this system names files
    std::optional<ArchiveOrigin> origin;
};

// The origin field of an extra block, when it holds one.
std::optional<ArchiveOrigin> originIn(const std::string& path, const unsigned char* extra,
                                      std::size_t size) {
    std::optional<ArchiveOrigin> origin;
    forEachExtraField(path, extra, size,
                      [&](std::uint16_t tag, const unsigned char* data, std::uint16_t length) {
                          if (tag == kExtraOrigin) {
                              origin = decodeOrigin(data, length);
                          }
                      });
    return origin;
}

// The ZIP64 field replaces the sizes and the offset that are at their limit.
void applyZip64Field(const std::string& path, const unsigned char* extra, std::size_t extraSize,
                     Sizes& sizes) {
    bool zip64 = false;
    forEachExtraField(path, extra, extraSize,
                      [&](std::uint16_t tag, const unsigned char* data, std::uint16_t length) {
                          if (tag == kExtraZip64) {
                              applyZip64(path, data, length, sizes, true);
                              zip64 = true;
                          }
                      });
    if (!zip64 &&
        (sizes.size == kMax32 || sizes.compressedSize == kMax32 || sizes.localOffset == kMax32)) {
        throwDamagedArchive(path, QStringLiteral("ZIP64 alanı eksik"));
    }
}

// Fills in the entry a central record describes, as far as it is known before
// its local header is consulted; `extra` is the record's extra block.
void describeEntry(const std::string& path, const unsigned char* extra, std::size_t extraSize,
                   DosTime dos, CentralRecord& record) {
    ZipEntry& entry = record.entry;
    entry.size = record.sizes.size;
    entry.compressedSize = record.sizes.compressedSize;
    entry.crc = record.crc;
    entry.method = record.method;
    entry.modified = modificationTime(path, extra, extraSize, dos.time, dos.date);
    setEncryption(path, record.flags, extra, extraSize, entry);
    // Named as this system names files first: a name ending in '\' is a
    // file's here, and a folder's only from archivers whose separator it is.
    record.systemName = entryName(record.rawName, (record.flags & kFlagUtf8) != 0,
                                  static_cast<std::uint8_t>(record.madeBy >> 8));
    classify(record.madeBy, record.attributes,
             !record.systemName.empty() && record.systemName.back() == '/', entry);
}

// Reads the central record at the reader's position.
CentralRecord readCentralRecord(SequentialReader& directory, const std::string& path) {
    const unsigned char* h = directory.next(kCentralHeaderSize);
    if (get32(h) != kCentralHeaderSignature) {
        throwDamagedArchive(path, QStringLiteral("merkez dizini bozuk"));
    }
    if (get16(h + 34) != 0) {
        throwDamagedArchive(path, QStringLiteral("birden çok parçalı arşiv"));
    }
    CentralRecord record;
    record.madeBy = get16(h + 4);
    record.flags = get16(h + 8);
    record.method = get16(h + 10);
    const DosTime dos{get16(h + 12), get16(h + 14)};
    record.crc = get32(h + 16);
    record.sizes = Sizes{get32(h + 24), get32(h + 20), get32(h + 42)};
    const std::size_t nameSize = get16(h + 28);
    const std::size_t extraSize = get16(h + 30);
    const std::size_t commentSize = get16(h + 32);
    record.attributes = get32(h + 38);
    const unsigned char* name = directory.next(nameSize);
    record.rawName.assign(reinterpret_cast<const char*>(name), nameSize);
    const unsigned char* extra = directory.next(extraSize);
    applyZip64Field(path, extra, extraSize, record.sizes);
    describeEntry(path, extra, extraSize, dos, record);
    record.origin = originIn(path, extra, extraSize);
    directory.next(commentSize);
    return record;
}

// Checks the local header against the central record; returns where the
// stored bytes start.
std::uint64_t checkLocalHeader(const UniqueFd& file, const std::string& path,
                               const CentralRecord& central, std::uint64_t directoryOffset) {
    const std::uint64_t at = central.sizes.localOffset;
    if (at > directoryOffset || directoryOffset - at < kLocalHeaderSize) {
        throwDamagedArchive(path, QStringLiteral("yerel başlık dizinin dışında"));
    }
    unsigned char header[kLocalHeaderSize];
    readExactly(file, at, header, sizeof header, path);
    const std::uint16_t flags = get16(header + 6);
    const std::size_t nameSize = get16(header + 26);
    const std::size_t extraSize = get16(header + 28);
    if (get32(header) != kLocalHeaderSignature || ((flags ^ central.flags) & kFlagEncrypted) != 0 ||
        get16(header + 8) != central.method || nameSize != central.rawName.size()) {
        throwDamagedArchive(path, QStringLiteral("yerel başlık merkez dizinle uyuşmuyor"));
    }
    const std::uint64_t dataAt = at + kLocalHeaderSize + nameSize + extraSize;
    if (dataAt > directoryOffset) {
        throwDamagedArchive(path, QStringLiteral("yerel başlık dizinin dışında"));
    }
    std::vector<unsigned char> variable(nameSize + extraSize);
    readExactly(file, at + kLocalHeaderSize, variable.data(), variable.size(), path);
    bool same = std::string_view(reinterpret_cast<const char*>(variable.data()), nameSize) ==
                central.rawName;
    if ((flags & kFlagDataDescriptor) == 0) {
        Sizes local{get32(header + 22), get32(header + 18), 0};
        forEachExtraField(path, variable.data() + nameSize, extraSize,
                          [&](std::uint16_t tag, const unsigned char* data, std::uint16_t length) {
                              if (tag == kExtraZip64) {
                                  applyZip64(path, data, length, local, false);
                              }
                          });
        same = same && get32(header + 14) == central.crc && local.size == central.sizes.size &&
               local.compressedSize == central.sizes.compressedSize;
    }
    if (!same) {
        throwDamagedArchive(path, QStringLiteral("yerel başlık merkez dizinle uyuşmuyor"));
    }
    if (central.sizes.compressedSize > directoryOffset - dataAt) {
        throwDamagedArchive(path, QStringLiteral("girdinin verisi dizinin dışında"));
    }
    return dataAt;
}

// No two entries may share stored bytes: one written block would otherwise
// stand for many files.
void requireSeparateData(const std::string& path,
                         std::vector<std::pair<std::uint64_t, std::uint64_t>>& spans) {
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second) {
            throwDamagedArchive(path, QStringLiteral("girdiler aynı veriyi paylaşıyor"));
        }
    }
}

} // namespace

[[noreturn]] void throwDamagedArchive(const std::string& archive, const QString& detail) {
    throw Failure(FailureCode::InvalidArchive,
                  QStringLiteral("Yedek dosyası bozuk ya da eksik (%1): %2")
                      .arg(detail, fromSystemPath(archive)));
}

[[noreturn]] void throwUnsupportedEntry(const std::string& archive) {
    throwDamagedArchive(archive, QStringLiteral("desteklenmeyen sıkıştırma ya da şifreleme"));
}

std::optional<ArchiveOrigin> readOrigin(const UniqueFd& file, const std::string& path) {
    const PathInfo info = lookUp(file, path);
    if (info.kind != PathKind::File) {
        throwArchiveNotFound(path);
    }
    const Layout layout = findLayout(file, path, info.size);
    if (layout.count == 0) {
        return std::nullopt;
    }
    SequentialReader directory(file, path, layout.offset, layout.size);
    return readCentralRecord(directory, path).origin;
}

[[noreturn]] void throwArchiveNotFound(const std::string& archive) {
    throw Failure(FailureCode::FileNotFound,
                  QStringLiteral("Yedek dosyası bulunamadı: %1").arg(fromSystemPath(archive)));
}

ZipDirectory::ZipDirectory(const UniqueFd& file, const std::string& path, const NamePolicy& names) {
    const PathInfo info = lookUp(file, path);
    if (info.kind != PathKind::File) {
        throwArchiveNotFound(path);
    }
    const Layout layout = findLayout(file, path, info.size);
    // A hostile count cannot make us reserve more than the directory could hold.
    const std::uint64_t possible = layout.size / kCentralHeaderSize;
    if (layout.count > possible || layout.count > UINT32_MAX) {
        throwDamagedArchive(path, QStringLiteral("girdi sayısı tutmuyor"));
    }
    entries_.reserve(static_cast<std::size_t>(layout.count));
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    spans.reserve(static_cast<std::size_t>(layout.count));

    SequentialReader directory(file, path, layout.offset, layout.size);
    for (std::uint64_t index = 0; index < layout.count; ++index) {
        const CentralRecord record = readCentralRecord(directory, path);
        if (index == 0) {
            origin_ = record.origin;
        }
        ZipEntry entry = record.entry;
        entry.index = static_cast<std::uint32_t>(index);
        entry.dataOffset = checkLocalHeader(file, path, record, layout.offset);
        spans.emplace_back(record.sizes.localOffset, entry.dataOffset + entry.compressedSize);
        const std::string listed = names(record.systemName);
        if (!listed.empty()) {
            entry.path = names_.add(listed);
            entries_.push_back(entry);
        }
    }
    if (!directory.atEnd()) {
        throwDamagedArchive(path, QStringLiteral("merkez dizini girdi sayısından uzun"));
    }
    recordCount_ = layout.count;
    requireSeparateData(path, spans);
}

} // namespace kavlento::zip
