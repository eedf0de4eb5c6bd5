#include "archive/ExtractJob.h"

#include "archive/ExtractionRules.h"
#include "base/Failure.h"
#include "base/WorkerPool.h"
#include "fs/File.h"
#include "fs/FolderTransaction.h"
#include "zip/WinZipAes.h"
#include "zip/ZipReader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

namespace kavlento::archive {

using namespace zip;

namespace {

constexpr std::size_t kCopyBuffer = 256 * 1024;
constexpr std::uint64_t kEntryWeight = 16 * 1024;
constexpr std::uint64_t kLongestLink = 4096;
// Small AES entries are taken in groups whose keys are derived side by side;
// a large one is worth a derivation of its own.
constexpr std::size_t kKeysAtOnce = 16;
constexpr std::uint64_t kLargeEntry = 1u << 20;

const QString kCannotWrite = QStringLiteral("Geri yüklenen dosya yazılamadı");

bool allZero(const std::uint8_t* data, std::size_t size) {
    return size > 0 && data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0;
}

// Every folder the files need, whether or not the archive lists it, parents
// before their contents, and after them the files and links.
std::vector<TreeEntry> restoredItems(const std::vector<ZipEntry>& entries) {
    std::map<std::string_view, TreeEntry> folders;
    for (const ZipEntry& entry : entries) {
        for (std::size_t slash = entry.path.find('/'); slash != std::string_view::npos;
             slash = entry.path.find('/', slash + 1)) {
            TreeEntry parent;
            parent.path = entry.path.substr(0, slash);
            parent.kind = EntryKind::Folder;
            parent.mode = 0755;
            parent.modified = entry.modified;
            folders.emplace(parent.path, parent);
        }
        if (entry.isFolder()) {
            folders[entry.path] = entry;
        }
    }
    std::vector<TreeEntry> items;
    items.reserve(folders.size() + entries.size());
    for (const auto& [path, folder] : folders) {
        items.push_back(folder); // std::map order puts "a" before "a/b"
    }
    for (const ZipEntry& entry : entries) {
        if (!entry.isFolder()) {
            items.push_back(entry);
        }
    }
    return items;
}

// Extracts the files and links of an archive to where a transaction stages
// them. Links are data: they are made as they were stored, whatever they point
// to, and nothing is ever written through one.
class Extractor {
public:
    Extractor(const ZipReader& reader, const ExtractCommand& command,
              const fs::FolderTransaction& transaction, JobControl& control)
        : reader_(reader), password_(command.password.toStdString()), transaction_(transaction),
          control_(control) {}

    // Largest entries first, on `threads` threads sharing the reader; only
    // entries that go through libzip (not the AES entries Kavlento writes)
    // take turns.
    void run(unsigned threads) {
        std::vector<const ZipEntry*> order;
        for (const ZipEntry& entry : reader_.entries()) {
            if (!entry.isFolder()) {
                order.push_back(&entry);
            }
        }
        std::sort(order.begin(), order.end(), [](const ZipEntry* a, const ZipEntry* b) {
            return a->compressedSize > b->compressedSize;
        });
        const std::vector<std::vector<const ZipEntry*>> groups = grouped(order);
        runInParallel(
            groups.size(), threads, [&](std::size_t i) { extractGroup(groups[i]); },
            [&] { return control_.cancelled(); });
        control_.throwIfCancelled();
    }

private:
    static std::vector<std::vector<const ZipEntry*>>
    grouped(const std::vector<const ZipEntry*>& order) {
        std::vector<std::vector<const ZipEntry*>> groups;
        bool open = false; // whether the last group takes more small AES entries
        for (const ZipEntry* entry : order) {
            const bool small = entry->aes() && entry->compressedSize <= kLargeEntry;
            if (!small || !open || groups.back().size() == kKeysAtOnce) {
                groups.emplace_back();
            }
            groups.back().push_back(entry);
            open = small;
        }
        return groups;
    }

    void extractGroup(const std::vector<const ZipEntry*>& group) {
        std::vector<AesSalt> salts;
        for (const ZipEntry* entry : group) {
            if (entry->aes()) {
                salts.push_back(saltOf(*entry));
            }
        }
        const std::vector<AesKeys> keys = deriveAesKeys(password_, salts);
        std::size_t next = 0;
        for (const ZipEntry* entry : group) {
            if (entry->aes()) {
                const AesSalt& derivedFor = salts[next];
                const AesKeys& derived = keys[next++];
                extract(*entry, [&](const AesSalt& salt) {
                    return std::equal(salt.bytes.begin(), salt.bytes.begin() + salt.size(),
                                      derivedFor.bytes.begin())
                               ? derived
                               : deriveAesKeys(password_, salt);
                });
            } else {
                extract(*entry, nullptr);
            }
            control_.advance(kEntryWeight);
        }
    }

    AesSalt saltOf(const ZipEntry& entry) const {
        AesSalt salt;
        salt.strength = entry.encryption == ZipEntry::Encryption::Aes128   ? AesStrength::Aes128
                        : entry.encryption == ZipEntry::Encryption::Aes192 ? AesStrength::Aes192
                                                                           : AesStrength::Aes256;
        reader_.readStored(entry.dataOffset, salt.bytes.data(), salt.size());
        return salt;
    }

    // `keys`, for an AES entry, gives its keys; else the password is used.
    void extract(const ZipEntry& entry, const KeySource& keys) {
        const std::string target = transaction_.stagingPath(entry.path);
        std::optional<EntryReader> reader;
        if (keys) {
            reader.emplace(reader_, entry, keys);
        } else {
            reader.emplace(reader_, entry, password_);
        }
        EntryReader& content = *reader;
        if (entry.isLink()) {
            extractLink(content, entry, target);
            return;
        }
        thread_local std::vector<std::uint8_t> buffer;
        buffer.resize(kCopyBuffer);
        fs::UniqueFd fd = fs::createNew(target, 0600);
        std::uint64_t offset = 0;
        while (const std::size_t n = content.read(buffer.data(), buffer.size())) {
            // Runs of zeros stay holes, as they were in a sparse file.
            if (!allZero(buffer.data(), n)) {
                fs::writeAllAt(fd.get(), offset, buffer.data(), n, target);
            }
            offset += n;
            control_.advance(n);
            control_.throwIfCancelled();
        }
        fs::truncateTo(fd.get(), offset, target);
        fs::setModeAndTime(fd, entry.mode, entry.modified, target, kCannotWrite);
        fd.close(target);
    }

    static void extractLink(EntryReader& content, const ZipEntry& entry,
                            const std::string& target) {
        if (entry.size > kLongestLink) {
            throw Failure(FailureCode::InvalidArchive,
                          QStringLiteral("Yedek dosyası bozuk (bağlantı çok uzun): %1")
                              .arg(fs::fromSystemPath(entry.path)));
        }
        std::string link(static_cast<std::size_t>(entry.size) + 1, '\0');
        std::size_t length = 0;
        while (const std::size_t n = content.read(
                   reinterpret_cast<std::uint8_t*>(link.data()) + length, link.size() - length)) {
            length += n;
        }
        link.resize(length);
        fs::makeLink(link, target, kCannotWrite);
        fs::setLinkTime(target, entry.modified, kCannotWrite);
    }

    const ZipReader& reader_;
    std::string password_;
    const fs::FolderTransaction& transaction_;
    JobControl& control_;
};

} // namespace

void runExtract(const ExtractCommand& command, JobControl& control, unsigned threads) {
    const std::string archivePath = fs::toSystemPath(command.archivePath);
    const std::string destination = fs::toSystemPath(command.destinationFolder);
    const std::unique_ptr<ZipReader> reader = openCheckedArchive(archivePath);
    fs::requireFolder(destination, QStringLiteral("Geri yükleme klasörüne ulaşılamadı"));
    std::uint64_t total = 0;
    for (const ZipEntry& entry : reader->entries()) {
        total += std::min<std::uint64_t>(entry.size, UINT64_MAX / 4) + kEntryWeight;
    }
    control.setTotal(total);
    {
        fs::FolderTransaction transaction(destination, restoredItems(reader->entries()));
        Extractor(*reader, command, transaction, control).run(threads);
        transaction.commit();
    } // the working folders, with the old files, go before 100 % is reported
    control.complete();
}

} // namespace kavlento::archive
