#include "archive/ExtractJob.h"

#include "archive/ExtractionRules.h"

#include "base/Failure.h"
#include "base/WorkerPool.h"
#include "fs/File.h"
#include "fs/FolderTransaction.h"
#include "zip/ZipReader.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string_view>

namespace kavlento::archive {

using namespace fs;
using namespace zip;

namespace {

constexpr std::size_t kCopyBuffer = 256 * 1024;
constexpr std::uint64_t kEntryWeight = 16 * 1024;
constexpr std::uint64_t kLongestLink = 4096;
// Room kept free beyond the restored bytes, for the file system's own needs.
constexpr std::uint64_t kSpareBytes = 16u << 20;

const QString kCannotWrite = QStringLiteral("Geri yüklenen dosya yazılamadı");

// A compression bomb, or simply a full disk, is stopped here, before anything
// is written.
void requireSpace(const std::string& folder, const std::vector<zip::ZipEntry>& entries) {
    std::uint64_t needed = kSpareBytes;
    for (const zip::ZipEntry& entry : entries) {
        needed += entry.size + (entry.size >> 6);
        if (needed < entry.size) {
            needed = UINT64_MAX;
            break;
        }
    }
    const std::uint64_t available = fs::availableBytes(folder);
    if (needed > available) {
        throw Failure(FailureCode::DiskFull,
                      QStringLiteral("Geri yükleme için diskte yeterli yer yok: %1 MB gerekli, "
                                     "%2 MB boş; hiçbir dosya değiştirilmedi.")
                          .arg(needed >> 20)
                          .arg(available >> 20));
    }
}

std::set<std::string> linkPaths(const std::vector<zip::ZipEntry>& entries) {
    std::set<std::string> links;
    for (const zip::ZipEntry& entry : entries) {
        if (entry.kind == EntryKind::Link) {
            links.emplace(entry.path);
        }
    }
    return links;
}

// Every folder the files need, whether or not the archive lists it, parents
// before their contents.
std::vector<TreeEntry> folderItems(const std::vector<zip::ZipEntry>& entries) {
    std::map<std::string_view, TreeEntry> folders;
    for (const zip::ZipEntry& entry : entries) {
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
    for (auto& [path, item] : folders) {
        items.push_back(item); // std::map order puts "a" before "a/b"
    }
    return items;
}

class Extractor {
public:
    Extractor(const ZipReader& reader, const ExtractCommand& command,
              const std::vector<zip::ZipEntry>& entries, const std::string& staging,
              JobControl& control)
        : reader_(reader), password_(command.password.toStdString()), entries_(entries),
          links_(linkPaths(entries)), staging_(staging), control_(control) {}

    // Extracts every file and link on `threads` threads, largest entries
    // first. They share the reader; only entries that go through libzip (not
    // the AES entries Kavlento writes) take turns.
    void run(unsigned threads) {
        std::vector<const zip::ZipEntry*> order;
        order.reserve(entries_.size());
        for (const zip::ZipEntry& entry : entries_) {
            if (entry.kind != EntryKind::Folder) {
                order.push_back(&entry);
            }
        }
        std::sort(order.begin(), order.end(), [](const zip::ZipEntry* a, const zip::ZipEntry* b) {
            return a->compressedSize > b->compressedSize;
        });
        std::atomic<std::size_t> next{0};
        WorkerPool pool(static_cast<unsigned>(
            std::min<std::size_t>(threads, std::max<std::size_t>(order.size(), 1))));
        std::vector<std::future<void>> workers;
        for (unsigned t = 0; t < pool.size(); ++t) {
            workers.push_back(pool.submit([&] { work(order, next); }));
        }
        for (std::future<void>& worker : workers) {
            worker.wait();
        }
        if (error_) {
            std::rethrow_exception(error_);
        }
        control_.throwIfCancelled();
    }

private:
    void work(const std::vector<const zip::ZipEntry*>& order, std::atomic<std::size_t>& next) {
        try {
            std::vector<std::uint8_t> buffer(kCopyBuffer);
            for (std::size_t i = next++; i < order.size(); i = next++) {
                if (control_.cancelled() || failed_) {
                    return;
                }
                extract(*order[i], buffer);
                control_.advance(kEntryWeight);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(errorMutex_);
            if (!error_) {
                error_ = std::current_exception();
            }
            failed_ = true;
        }
    }

    void extract(const zip::ZipEntry& entry, std::vector<std::uint8_t>& buffer) {
        const std::string target = joinPath(staging_, entry.path);
        EntryReader content(reader_, entry, password_);
        if (entry.kind == EntryKind::Link) {
            extractLink(content, entry, target);
            return;
        }
        fs::UniqueFd fd = fs::createNew(target, 0600);
        std::uint64_t offset = 0;
        while (const std::size_t n = content.read(buffer.data(), buffer.size())) {
            writeAllAt(fd.get(), offset, buffer.data(), n, target);
            offset += n;
            control_.advance(n);
            control_.throwIfCancelled();
        }
        fs::setModeAndTime(fd, entry.mode, entry.modified, target, kCannotWrite);
        fd.close(target);
    }

    void extractLink(EntryReader& content, const zip::ZipEntry& entry, const std::string& target) {
        if (entry.size > kLongestLink) {
            throw Failure(FailureCode::InvalidArchive,
                          QStringLiteral("Yedek dosyası bozuk (bağlantı çok uzun): %1")
                              .arg(fromSystemPath(entry.path)));
        }
        std::string link(static_cast<std::size_t>(entry.size) + 1, '\0');
        std::size_t length = 0;
        while (const std::size_t n = content.read(
                   reinterpret_cast<std::uint8_t*>(link.data()) + length, link.size() - length)) {
            length += n;
        }
        link.resize(length);
        if (!isSafeLinkTarget(entry.path, link, links_)) {
            throw Failure(FailureCode::UnsafeArchive,
                          QStringLiteral("Yedek dosyasındaki bir bağlantı program klasörünün "
                                         "dışını gösteriyor; hiçbir dosya değiştirilmedi: %1 -> %2")
                              .arg(fromSystemPath(entry.path), fromSystemPath(link)));
        }
        fs::makeLink(link, target, kCannotWrite);
        fs::setLinkTime(target, entry.modified, kCannotWrite);
    }

    const ZipReader& reader_;
    std::string password_;
    const std::vector<zip::ZipEntry>& entries_;
    std::set<std::string> links_;
    std::string staging_;
    JobControl& control_;
    std::mutex errorMutex_;
    std::exception_ptr error_;
    std::atomic<bool> failed_{false};
};

} // namespace

void runExtract(const ExtractCommand& command, JobControl& control, unsigned threads) {
    const std::string archivePath = fs::toSystemPath(command.archivePath);
    const std::string destination = fs::toSystemPath(command.destinationFolder);
    const std::unique_ptr<ZipReader> checked = openCheckedArchive(archivePath);
    const ZipReader& reader = *checked;
    fs::requireFolder(destination, QStringLiteral("Geri yükleme klasörüne ulaşılamadı"));
    const std::vector<zip::ZipEntry>& entries = reader.entries();
    std::uint64_t total = 0;
    for (const zip::ZipEntry& entry : entries) {
        total += entry.size + kEntryWeight;
    }
    control.setTotal(total);

    {
        fs::FolderTransaction transaction(destination);
        requireSpace(destination, entries);

        std::vector<TreeEntry> items = folderItems(entries);
        for (const TreeEntry& folder : items) {
            fs::makeFolder(fs::joinPath(transaction.stagingFolder(), folder.path), 0700,
                           kCannotWrite);
        }
        Extractor(reader, command, entries, transaction.stagingFolder(), control)
            .run(WorkerPool::threadsFor(threads));

        items.reserve(items.size() + entries.size());
        for (const zip::ZipEntry& entry : entries) {
            if (!entry.isFolder()) {
                items.push_back(entry);
            }
        }
        control.throwIfCancelled();
        transaction.commit(items);
    } // the working folder, with the old files, goes before 100 % is reported
    control.complete();
}

} // namespace kavlento::archive
