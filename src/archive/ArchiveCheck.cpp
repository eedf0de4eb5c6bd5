#include "archive/ArchiveCheck.h"

#include "archive/ExtractionRules.h"
#include "base/Failure.h"
#include "base/ThreadCache.h"
#include "base/WorkerPool.h"
#include "zip/ZipFormat.h"
#include "zip/ZipReader.h"

#include <algorithm>
#include <cstring>

namespace kavlento::archive {

using namespace zip;

namespace {

constexpr std::size_t kBuffer = 256 * 1024;
// Reading back costs about a quarter of writing, per byte.
constexpr std::uint64_t kCheckShare = 4;

[[noreturn]] void differs(const std::string& path, const QString& detail) {
    throwDamagedArchive(path, QStringLiteral("yazılan ile okunan farklı: %1").arg(detail));
}

void compareHeader(const std::string& path, const ZipEntry& read, const PackedEntry& packed) {
    const TreeEntry& expected = packed.entry;
    const QString name = fs::fromSystemPath(expected.path);
    if (read.path != expected.path) {
        differs(path, QStringLiteral("ad, %1").arg(name));
    }
    if (read.kind != expected.kind || read.size != expected.size ||
        read.mode != (expected.mode & 01777) || read.modified != storedTime(expected.modified)) {
        differs(path, QStringLiteral("tür, boyut, izin ya da zaman, %1").arg(name));
    }
    if (!expected.isFolder() &&
        (read.encryption != ZipEntry::Encryption::Aes256 || read.crc != packed.crc)) {
        differs(path, QStringLiteral("şifreleme ya da CRC, %1").arg(name));
    }
}

void readWhole(const ZipReader& reader, const ZipEntry& entry, const PackedEntry& packed,
               JobControl& control) {
    const KeySource keptKeys = [&](const AesSalt& salt) {
        if (salt.strength != packed.salt.strength ||
            std::memcmp(salt.bytes.data(), packed.salt.bytes.data(), salt.size()) != 0) {
            differs(reader.path(), QStringLiteral("tuz, %1").arg(fs::fromSystemPath(entry.path)));
        }
        return packed.keys;
    };
    std::vector<std::uint8_t>& buffer = threadCache([] { return std::vector<std::uint8_t>(); });
    buffer.resize(kBuffer);
    EntryReader content(reader, entry, keptKeys);
    while (const std::size_t n = content.read(buffer.data(), buffer.size())) {
        control.advance(n / kCheckShare);
        control.throwIfCancelled();
    }
}

} // namespace

void checkWrittenArchive(const fs::UniqueFd& archive, const std::string& path,
                         const std::vector<PackedEntry>& packed, const zip::ArchiveOrigin& origin,
                         JobControl& control, unsigned threads) {
    try {
        const std::unique_ptr<ZipReader> opened =
            openCheckedArchive(fs::duplicate(archive, path), path);
        const ZipReader& reader = *opened;
        const std::vector<ZipEntry>& entries = reader.entries();
        if (entries.size() != packed.size()) {
            differs(path, QStringLiteral("girdi sayısı"));
        }
        if (!entries.empty() && !(reader.origin() == origin)) {
            differs(path, QStringLiteral("yedeğin kaynağı"));
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            compareHeader(path, entries[i], packed[i]);
        }
        // Largest first, so that no core is left alone with a large file at the end.
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].isFolder()) {
                order.push_back(i);
            }
        }
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return entries[a].compressedSize > entries[b].compressedSize;
        });
        runInParallel(
            order.size(), threads,
            [&](std::size_t k) { readWhole(reader, entries[order[k]], packed[order[k]], control); },
            [&] { return control.cancelled(); });
        control.throwIfCancelled();
    } catch (const Failure& failure) {
        if (failure.code() == FailureCode::Cancelled) {
            throw;
        }
        throw Failure(failure.code(),
                      QStringLiteral("Yazılan yedek dosyası geri okunarak denetlendi ve bir "
                                     "hata bulundu; bu yedek kullanılamaz, yedek alınmadı. %1")
                          .arg(failure.description()));
    }
}

std::uint64_t checkingWork(const std::vector<TreeEntry>& entries) {
    std::uint64_t total = 0;
    for (const TreeEntry& entry : entries) {
        total += entry.size / kCheckShare;
    }
    return total;
}

} // namespace kavlento::archive
