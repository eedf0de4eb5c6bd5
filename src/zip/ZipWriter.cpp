#include "zip/ZipWriter.h"

#include "fs/File.h"
#include "zip/ZipFormat.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace kavlento::zip {

using namespace fs;

namespace {

// Deflate can grow incompressible data a little; entries this close to 4 GiB
// get ZIP64 sizes in the local header before their data is known.
constexpr std::uint64_t kZip64Margin = 64u << 20;

std::uint16_t versionNeeded(bool encrypted, bool zip64) {
    if (encrypted) {
        return kVersionAes;
    }
    return zip64 ? kVersionZip64 : kVersionDeflate;
}

std::uint16_t flags(bool encrypted, bool utf8, bool described) {
    return static_cast<std::uint16_t>((utf8 ? kFlagUtf8 : 0) | (encrypted ? kFlagEncrypted : 0) |
                                      (described ? kFlagDataDescriptor : 0));
}

// The modification time twice: as an NTFS field, which carries any year to
// 100 ns and which 7-Zip and Kavlento read first, and, where it fits, as the
// extended timestamp in seconds that Info-ZIP reads.
void putTimeExtras(std::string& out, Timestamp modified) {
    const std::uint64_t ntfs = toNtfsTime(modified);
    put16(out, kExtraNtfs);
    put16(out, kExtraNtfsSize);
    put32(out, 0); // reserved
    put16(out, 1); // the attribute of the three times
    put16(out, 24);
    put64(out, ntfs); // modified
    put64(out, ntfs); // accessed
    put64(out, ntfs); // created
    if (modified.seconds >= std::numeric_limits<std::int32_t>::min() &&
        modified.seconds <= std::numeric_limits<std::int32_t>::max()) {
        put16(out, kExtraTimestamp);
        put16(out, 5);
        out.push_back(1); // modification time present
        put32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(modified.seconds)));
    }
}

std::string headerName(const TreeEntry& entry) {
    std::string name(entry.path);
    if (entry.isFolder()) {
        name += '/';
    }
    return name;
}

std::uint32_t unixType(EntryKind kind) {
    switch (kind) {
    case EntryKind::Folder:
        return kUnixFolder;
    case EntryKind::Link:
        return kUnixLink;
    case EntryKind::File:
        break;
    }
    return kUnixFile;
}

void putAesExtra(std::string& out, std::uint16_t actualMethod) {
    put16(out, kExtraAes);
    put16(out, 7);
    put16(out, kAesVendorVersion);
    out.append("AE", 2);
    out.push_back(static_cast<char>(kAesStrength256));
    put16(out, actualMethod);
}

} // namespace

ZipWriter::ZipWriter(const UniqueFd& file, std::string pathForErrors, std::size_t bufferSize)
    : file_(file), path_(std::move(pathForErrors)), bufferSize_(bufferSize) {
    buffer_.reserve(bufferSize_);
}

void ZipWriter::beginEntry(const TreeEntry& tree, std::uint16_t method, bool encrypted) {
    Entry entry;
    entry.tree = tree;
    entry.method = method;
    entry.encrypted = encrypted;
    entry.utf8 = isUtf8(tree.path);
    entry.localOffset = bufferStart_ + buffer_.size();
    entry.zip64Local = tree.size >= kMax32 - kZip64Margin;
    // A folder's sizes and CRC are known now: nothing follows its header.
    entry.described = !tree.isFolder();
    const std::string header = localHeader(entry);
    append(header.data(), header.size());
    dataStart_ = bufferStart_ + buffer_.size();
    entries_.push_back(std::move(entry));
}

void ZipWriter::write(const std::uint8_t* data, std::size_t size) {
    append(data, size);
}

void ZipWriter::endEntry(std::uint64_t uncompressedSize, std::uint32_t crc) {
    Entry& entry = entries_.back();
    entry.compressedSize = bufferStart_ + buffer_.size() - dataStart_;
    entry.uncompressedSize = uncompressedSize;
    entry.crc = crc;
    const bool tooLarge = entry.compressedSize >= kMax32 || entry.uncompressedSize >= kMax32;
    if (tooLarge && !entry.zip64Local) {
        throw std::logic_error("entry outgrew its local header");
    }
    if (entry.described) {
        const std::string descriptor = dataDescriptor(entry);
        append(descriptor.data(), descriptor.size());
    } else if (entry.compressedSize != 0 || uncompressedSize != 0 || crc != 0) {
        throw std::logic_error("an entry without a data descriptor got data");
    }
}

void ZipWriter::abandonEntry() {
    const std::uint64_t start = entries_.back().localOffset;
    entries_.pop_back();
    if (start >= bufferStart_) {
        buffer_.resize(static_cast<std::size_t>(start - bufferStart_));
    } else {
        // Cut, not overwritten: the file still only ever grows at its end.
        buffer_.clear();
        truncateTo(file_, start, path_);
        bufferStart_ = start;
    }
}

void ZipWriter::setOrigin(const ArchiveOrigin& origin) {
    origin_ = encodeOrigin(origin);
}

void ZipWriter::finish() {
    const std::uint64_t centralStart = bufferStart_ + buffer_.size();
    for (const Entry& entry : entries_) {
        const std::string header =
            centralHeader(entry, &entry == &entries_.front() ? origin_ : std::string());
        append(header.data(), header.size());
    }
    const std::uint64_t centralEnd = bufferStart_ + buffer_.size();
    const std::uint64_t centralSize = centralEnd - centralStart;
    const std::uint64_t count = entries_.size();
    const bool zip64 = count >= kMax16 || centralStart >= kMax32 || centralSize >= kMax32;

    std::string end;
    if (zip64) {
        put32(end, kZip64EndSignature);
        put64(end, 44);
        put16(end, kVersionMadeBy);
        put16(end, kVersionZip64);
        put32(end, 0);
        put32(end, 0);
        put64(end, count);
        put64(end, count);
        put64(end, centralSize);
        put64(end, centralStart);
        put32(end, kZip64LocatorSignature);
        put32(end, 0);
        put64(end, centralEnd);
        put32(end, 1);
    }
    put32(end, kEndSignature);
    put16(end, 0);
    put16(end, 0);
    const auto count16 = static_cast<std::uint16_t>(std::min<std::uint64_t>(count, kMax16));
    put16(end, count16);
    put16(end, count16);
    put32(end, static_cast<std::uint32_t>(std::min<std::uint64_t>(centralSize, kMax32)));
    put32(end, static_cast<std::uint32_t>(std::min<std::uint64_t>(centralStart, kMax32)));
    put16(end, 0);
    append(end.data(), end.size());
    flush();
}

void ZipWriter::append(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const std::size_t room = bufferSize_ - buffer_.size();
        const std::size_t take = std::min(room, size);
        buffer_.insert(buffer_.end(), bytes, bytes + take);
        bytes += take;
        size -= take;
        if (buffer_.size() == bufferSize_) {
            flush();
        }
    }
}

void ZipWriter::flush() {
    writeAllAt(file_, bufferStart_, buffer_.data(), buffer_.size(), path_);
    // The disk writes while the rest is compressed, instead of all at the end.
    startWriting(file_, bufferStart_, buffer_.size());
    bufferStart_ += buffer_.size();
    buffer_.clear();
}

// The header before an entry's data, written before the data is known: a
// described entry's CRC and sizes are zero here (with ZIP64 sizes of zero
// where its descriptor will have 64-bit sizes).
std::string ZipWriter::localHeader(const Entry& entry) {
    const DosTime dos = toDosTime(static_cast<std::time_t>(entry.tree.modified.seconds));
    const std::string name = headerName(entry.tree);
    std::string extra;
    if (entry.zip64Local) {
        put16(extra, kExtraZip64);
        put16(extra, 16);
        put64(extra, 0);
        put64(extra, 0);
    }
    putTimeExtras(extra, entry.tree.modified);
    if (entry.encrypted) {
        putAesExtra(extra, entry.method);
    }
    std::string out;
    put32(out, kLocalHeaderSignature);
    put16(out, versionNeeded(entry.encrypted, entry.zip64Local));
    put16(out, flags(entry.encrypted, entry.utf8, entry.described));
    put16(out, entry.encrypted ? kMethodAes : entry.method);
    put16(out, dos.time);
    put16(out, dos.date);
    put32(out, 0); // the CRC
    put32(out, entry.zip64Local ? kMax32 : 0);
    put32(out, entry.zip64Local ? kMax32 : 0);
    put16(out, static_cast<std::uint16_t>(name.size()));
    put16(out, static_cast<std::uint16_t>(extra.size()));
    out += name;
    out += extra;
    return out;
}

// The sizes are 64-bit exactly where the local header carries a ZIP64 field.
std::string ZipWriter::dataDescriptor(const Entry& entry) {
    std::string out;
    put32(out, kDataDescriptorSignature);
    put32(out, entry.crc);
    if (entry.zip64Local) {
        put64(out, entry.compressedSize);
        put64(out, entry.uncompressedSize);
    } else {
        put32(out, static_cast<std::uint32_t>(entry.compressedSize));
        put32(out, static_cast<std::uint32_t>(entry.uncompressedSize));
    }
    return out;
}

std::string ZipWriter::centralHeader(const Entry& entry, const std::string& origin) {
    const DosTime dos = toDosTime(static_cast<std::time_t>(entry.tree.modified.seconds));
    const std::string name = headerName(entry.tree);
    const bool bigUncompressed = entry.uncompressedSize >= kMax32;
    const bool bigCompressed = entry.compressedSize >= kMax32;
    const bool bigOffset = entry.localOffset >= kMax32;
    std::string extra;
    if (bigUncompressed || bigCompressed || bigOffset) {
        std::string values;
        if (bigUncompressed) {
            put64(values, entry.uncompressedSize);
        }
        if (bigCompressed) {
            put64(values, entry.compressedSize);
        }
        if (bigOffset) {
            put64(values, entry.localOffset);
        }
        put16(extra, kExtraZip64);
        put16(extra, static_cast<std::uint16_t>(values.size()));
        extra += values;
    }
    putTimeExtras(extra, entry.tree.modified);
    if (entry.encrypted) {
        putAesExtra(extra, entry.method);
    }
    if (!origin.empty()) {
        put16(extra, kExtraOrigin);
        put16(extra, static_cast<std::uint16_t>(origin.size()));
        extra += origin;
    }
    const bool zip64 = entry.zip64Local || bigUncompressed || bigCompressed || bigOffset;
    std::uint32_t external = (unixType(entry.tree.kind) | (entry.tree.mode & 07777)) << 16;
    if (entry.tree.isFolder()) {
        external |= kDosDirectoryAttribute;
    }
    std::string out;
    put32(out, kCentralHeaderSignature);
    put16(out, kVersionMadeBy);
    put16(out, versionNeeded(entry.encrypted, zip64));
    put16(out, flags(entry.encrypted, entry.utf8, entry.described));
    put16(out, entry.encrypted ? kMethodAes : entry.method);
    put16(out, dos.time);
    put16(out, dos.date);
    put32(out, entry.crc);
    put32(out, bigCompressed ? kMax32 : static_cast<std::uint32_t>(entry.compressedSize));
    put32(out, bigUncompressed ? kMax32 : static_cast<std::uint32_t>(entry.uncompressedSize));
    put16(out, static_cast<std::uint16_t>(name.size()));
    put16(out, static_cast<std::uint16_t>(extra.size()));
    put16(out, 0); // comment
    put16(out, 0); // disk
    put16(out, 0); // internal attributes
    put32(out, external);
    put32(out, bigOffset ? kMax32 : static_cast<std::uint32_t>(entry.localOffset));
    out += name;
    out += extra;
    return out;
}

} // namespace kavlento::zip
