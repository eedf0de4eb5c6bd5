#include "archive/EntryReading.h"

#include "archive/ExtractionRules.h"
#include "base/Saturating.h"
#include "base/ThreadCache.h"
#include "base/WorkerPool.h"
#include "fs/File.h"
#include "zip/WinZipAes.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace kavlento::archive {

using namespace zip;

namespace {

// Small AES entries are taken in groups whose keys are derived side by side;
// a large one is worth a derivation of its own.
constexpr std::uint64_t kLargeEntry = 1u << 20;

std::vector<std::vector<const ZipEntry*>>
groupsOf(const ZipReader& reader, const std::function<bool(const ZipEntry&)>& wanted) {
    std::vector<const ZipEntry*> order;
    for (const ZipEntry& entry : reader.entries()) {
        if (!entry.isFolder() && (!wanted || wanted(entry))) {
            order.push_back(&entry);
        }
    }
    std::sort(order.begin(), order.end(), [](const ZipEntry* a, const ZipEntry* b) {
        return a->compressedSize > b->compressedSize;
    });
    std::vector<std::vector<const ZipEntry*>> groups;
    bool open = false; // whether the last group takes more small AES entries
    for (const ZipEntry* entry : order) {
        const bool small = entry->aes() && entry->compressedSize <= kLargeEntry;
        if (!small || !open || groups.back().size() == kSaltsDerivedTogether) {
            groups.emplace_back();
        }
        groups.back().push_back(entry);
        open = small;
    }
    return groups;
}

} // namespace

void forEachEntryContent(const ZipReader& reader, const std::string& password, unsigned threads,
                         JobControl& control,
                         const std::function<void(const ZipEntry&, EntryReader&)>& use,
                         const std::function<bool(const ZipEntry&)>& wanted) {
    const std::vector<std::vector<const ZipEntry*>> groups = groupsOf(reader, wanted);
    const auto readGroup = [&](const std::vector<const ZipEntry*>& group) {
        std::vector<AesSalt> salts;
        for (const ZipEntry* entry : group) {
            if (entry->aes()) {
                salts.push_back(reader.saltOf(*entry));
            }
        }
        const std::vector<AesKeys> keys = deriveAesKeys(password, salts);
        std::size_t next = 0;
        for (const ZipEntry* entry : group) {
            std::optional<EntryReader> content;
            if (entry->aes()) {
                const AesSalt& derivedFor = salts[next];
                const AesKeys& derived = keys[next++];
                // The salt the reader finds is the one read above, unless the
                // archive changed in between.
                content.emplace(reader, *entry, [&](const AesSalt& salt) {
                    return std::equal(salt.bytes.begin(), salt.bytes.begin() + salt.size(),
                                      derivedFor.bytes.begin())
                               ? derived
                               : deriveAesKeys(password, salt);
                });
            } else {
                content.emplace(reader, *entry, password);
            }
            use(*entry, *content);
            control.advance(kEntryProgress);
        }
    };
    runInParallel(
        groups.size(), threads, [&](std::size_t i) { readGroup(groups[i]); },
        [&] { return control.cancelled(); });
    control.throwIfCancelled();
}

std::uint64_t contentWork(const ZipReader& reader) {
    std::uint64_t total = 0;
    for (const ZipEntry& entry : reader.entries()) {
        total = saturatingAdd(total, saturatingAdd(entry.size, kEntryProgress));
    }
    return total;
}

void readEveryEntry(const ZipReader& reader, const std::string& password, unsigned threads,
                    JobControl& control) {
    control.setTotal(contentWork(reader));
    forEachEntryContent(
        reader, password, threads, control, [&](const ZipEntry& entry, EntryReader& content) {
            if (entry.isLink()) {
                control.advance(readLinkTarget(entry, content).size());
                return;
            }
            std::vector<std::uint8_t>& buffer =
                threadCache([] { return std::vector<std::uint8_t>(256 * 1024); });
            while (const std::size_t n = content.read(buffer.data(), buffer.size())) {
                control.advance(n);
            }
        });
}

void testArchive(const std::string& path, const std::string& password, unsigned threads) {
    const std::unique_ptr<ZipReader> reader = openCheckedArchive(path);
    JobControl control;
    readEveryEntry(*reader, password, threads, control);
}

} // namespace kavlento::archive
