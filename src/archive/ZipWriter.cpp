#include "archive/ZipWriter.h"

#include "archive/SystemFile.h"
#include "archive/ZipFormat.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace kavlento::archive {

namespace {

constexpr std::size_t kBufferSize = 4u << 20;
// Deflate can grow incompressible data a little; entries this close to 4 GiB
// get ZIP64 sizes in the local header before their data is known.
constexpr std::uint64_t kZip64Margin = 64u << 20;

std::int32_t unixSeconds32(std::time_t t) {
    const auto clamped = std::clamp<std::int64_t>(t, std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(clamped);
}

std::uint16_t storedMethod(const ZipEntryInfo& info) {
    return info.encrypted ? zip::kMethodAes : info.method;
}

std::uint16_t versionNeeded(const ZipEntryInfo& info, bool zip64) {
    if (info.encrypted) {
        return zip::kVersionAes;
    }
    return zip64 ? zip::kVersionZip64 : zip::kVersionDeflate;
}

std::uint16_t flags(const ZipEntryInfo& info) {
    return static_cast<std::uint16_t>(zip::kFlagUtf8 | (info.encrypted ? zip::kFlagEncrypted : 0));
}

void putTimestampExtra(std::string& out, std::time_t modified) {
    zip::put16(out, zip::kExtraTimestamp);
    zip::put16(out, 5);
    out.push_back(1); // modification time present
    zip::put32(out, static_cast<std::uint32_t>(unixSeconds32(modified)));
}

void putAesExtra(std::string& out, std::uint16_t actualMethod) {
    zip::put16(out, zip::kExtraAes);
    zip::put16(out, 7);
    zip::put16(out, zip::kAesVendorVersion);
    out.append("AE", 2);
    out.push_back(static_cast<char>(zip::kAesStrength256));
    zip::put16(out, actualMethod);
}

} // namespace

ZipWriter::ZipWriter(int fd, std::string pathForErrors) : fd_(fd), path_(std::move(pathForErrors)) {
    buffer_.reserve(kBufferSize);
}

void ZipWriter::beginEntry(const ZipEntryInfo& info) {
    Entry entry;
    entry.info = info;
    entry.localOffset = bufferStart_ + buffer_.size();
    entry.zip64Local = info.sizeHint >= zip::kMax32 - kZip64Margin;
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
    const bool tooLarge =
        entry.compressedSize >= zip::kMax32 || entry.uncompressedSize >= zip::kMax32;
    if (tooLarge && !entry.zip64Local) {
        throw std::logic_error("entry outgrew its local header");
    }
    patch(entry.localOffset, localHeader(entry));
}

void ZipWriter::finish() {
    const std::uint64_t centralStart = bufferStart_ + buffer_.size();
    for (const Entry& entry : entries_) {
        const std::string header = centralHeader(entry);
        append(header.data(), header.size());
    }
    const std::uint64_t centralEnd = bufferStart_ + buffer_.size();
    const std::uint64_t centralSize = centralEnd - centralStart;
    const std::uint64_t count = entries_.size();
    const bool zip64 =
        count >= zip::kMax16 || centralStart >= zip::kMax32 || centralSize >= zip::kMax32;

    std::string end;
    if (zip64) {
        zip::put32(end, zip::kZip64EndSignature);
        zip::put64(end, 44);
        zip::put16(end, zip::kVersionMadeBy);
        zip::put16(end, zip::kVersionZip64);
        zip::put32(end, 0);
        zip::put32(end, 0);
        zip::put64(end, count);
        zip::put64(end, count);
        zip::put64(end, centralSize);
        zip::put64(end, centralStart);
        zip::put32(end, zip::kZip64LocatorSignature);
        zip::put32(end, 0);
        zip::put64(end, centralEnd);
        zip::put32(end, 1);
    }
    zip::put32(end, zip::kEndSignature);
    zip::put16(end, 0);
    zip::put16(end, 0);
    const auto count16 = static_cast<std::uint16_t>(std::min<std::uint64_t>(count, zip::kMax16));
    zip::put16(end, count16);
    zip::put16(end, count16);
    zip::put32(end, static_cast<std::uint32_t>(std::min<std::uint64_t>(centralSize, zip::kMax32)));
    zip::put32(end, static_cast<std::uint32_t>(std::min<std::uint64_t>(centralStart, zip::kMax32)));
    zip::put16(end, 0);
    append(end.data(), end.size());
    flush();
}

void ZipWriter::append(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const std::size_t room = kBufferSize - buffer_.size();
        const std::size_t take = std::min(room, size);
        buffer_.insert(buffer_.end(), bytes, bytes + take);
        bytes += take;
        size -= take;
        if (buffer_.size() == kBufferSize) {
            flush();
        }
    }
}

void ZipWriter::flush() {
    writeAllAt(fd_, bufferStart_, buffer_.data(), buffer_.size(), path_);
    bufferStart_ += buffer_.size();
    buffer_.clear();
}

void ZipWriter::patch(std::uint64_t offset, const std::string& bytes) {
    if (offset >= bufferStart_) {
        std::memcpy(buffer_.data() + (offset - bufferStart_), bytes.data(), bytes.size());
    } else {
        writeAllAt(fd_, offset, bytes.data(), bytes.size(), path_);
    }
}

std::string ZipWriter::localHeader(const Entry& entry) {
    const ZipEntryInfo& info = entry.info;
    const zip::DosTime dos = zip::toDosTime(info.modified);
    std::string extra;
    if (entry.zip64Local) {
        zip::put16(extra, zip::kExtraZip64);
        zip::put16(extra, 16);
        zip::put64(extra, entry.uncompressedSize);
        zip::put64(extra, entry.compressedSize);
    }
    putTimestampExtra(extra, info.modified);
    if (info.encrypted) {
        putAesExtra(extra, info.method);
    }
    std::string out;
    zip::put32(out, zip::kLocalHeaderSignature);
    zip::put16(out, versionNeeded(info, entry.zip64Local));
    zip::put16(out, flags(info));
    zip::put16(out, storedMethod(info));
    zip::put16(out, dos.time);
    zip::put16(out, dos.date);
    zip::put32(out, entry.crc);
    zip::put32(out,
               entry.zip64Local ? zip::kMax32 : static_cast<std::uint32_t>(entry.compressedSize));
    zip::put32(out,
               entry.zip64Local ? zip::kMax32 : static_cast<std::uint32_t>(entry.uncompressedSize));
    zip::put16(out, static_cast<std::uint16_t>(info.name.size()));
    zip::put16(out, static_cast<std::uint16_t>(extra.size()));
    out += info.name;
    out += extra;
    return out;
}

std::string ZipWriter::centralHeader(const Entry& entry) {
    const ZipEntryInfo& info = entry.info;
    const zip::DosTime dos = zip::toDosTime(info.modified);
    const bool bigUncompressed = entry.uncompressedSize >= zip::kMax32;
    const bool bigCompressed = entry.compressedSize >= zip::kMax32;
    const bool bigOffset = entry.localOffset >= zip::kMax32;
    std::string extra;
    if (bigUncompressed || bigCompressed || bigOffset) {
        std::string values;
        if (bigUncompressed) {
            zip::put64(values, entry.uncompressedSize);
        }
        if (bigCompressed) {
            zip::put64(values, entry.compressedSize);
        }
        if (bigOffset) {
            zip::put64(values, entry.localOffset);
        }
        zip::put16(extra, zip::kExtraZip64);
        zip::put16(extra, static_cast<std::uint16_t>(values.size()));
        extra += values;
    }
    putTimestampExtra(extra, info.modified);
    if (info.encrypted) {
        putAesExtra(extra, info.method);
    }
    const bool zip64 = entry.zip64Local || bigUncompressed || bigCompressed || bigOffset;
    std::uint32_t external = info.unixMode << 16;
    if (!info.name.empty() && info.name.back() == '/') {
        external |= zip::kDosDirectoryAttribute;
    }
    std::string out;
    zip::put32(out, zip::kCentralHeaderSignature);
    zip::put16(out, zip::kVersionMadeBy);
    zip::put16(out, versionNeeded(info, zip64));
    zip::put16(out, flags(info));
    zip::put16(out, storedMethod(info));
    zip::put16(out, dos.time);
    zip::put16(out, dos.date);
    zip::put32(out, entry.crc);
    zip::put32(out, bigCompressed ? zip::kMax32 : static_cast<std::uint32_t>(entry.compressedSize));
    zip::put32(out,
               bigUncompressed ? zip::kMax32 : static_cast<std::uint32_t>(entry.uncompressedSize));
    zip::put16(out, static_cast<std::uint16_t>(info.name.size()));
    zip::put16(out, static_cast<std::uint16_t>(extra.size()));
    zip::put16(out, 0); // comment
    zip::put16(out, 0); // disk
    zip::put16(out, 0); // internal attributes
    zip::put32(out, external);
    zip::put32(out, bigOffset ? zip::kMax32 : static_cast<std::uint32_t>(entry.localOffset));
    out += info.name;
    out += extra;
    return out;
}

} // namespace kavlento::archive
