#include "archive/ExtractJob.h"

#include "archive/EntryReading.h"
#include "archive/ExtractionRules.h"
#include "archive/OwnFiles.h"
#include "base/Failure.h"
#include "fs/File.h"
#include "fs/FolderTransaction.h"
#include "fs/RestoreRecovery.h"
#include "zip/ZipReader.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>

namespace kavlento::archive {

using namespace zip;

namespace {

constexpr std::size_t kCopyBuffer = 256 * 1024;

const QString kCannotWrite = QStringLiteral("Geri yüklenen dosya yazılamadı");

bool allZero(const std::uint8_t* data, std::size_t size) {
    return size > 0 && data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0;
}

// Every folder the files need, whether or not the archive lists it, parents
// before their contents, and after them the files and links; `implied` gets
// the folders it does not list.
std::vector<TreeEntry> restoredItems(const std::vector<ZipEntry>& entries,
                                     const std::function<bool(const ZipEntry&)>& wanted,
                                     std::set<std::string, std::less<>>& implied) {
    std::map<std::string_view, TreeEntry> folders;
    for (const ZipEntry& entry : entries) {
        if (!wanted(entry)) {
            continue;
        }
        for (std::size_t slash = entry.path.find('/'); slash != std::string_view::npos;
             slash = entry.path.find('/', slash + 1)) {
            TreeEntry parent;
            parent.path = entry.path.substr(0, slash);
            parent.kind = EntryKind::Folder;
            parent.mode = 0755;
            parent.modified = entry.modified;
            if (folders.emplace(parent.path, parent).second) {
                implied.emplace(parent.path);
            }
        }
    }
    for (const ZipEntry& entry : entries) {
        if (entry.isFolder() && wanted(entry)) {
            folders[entry.path] = entry;
            implied.erase(std::string(entry.path));
        }
    }
    std::vector<TreeEntry> items;
    items.reserve(folders.size() + entries.size());
    for (const auto& [path, folder] : folders) {
        items.push_back(folder); // std::map order puts "a" before "a/b"
    }
    for (const ZipEntry& entry : entries) {
        if (!entry.isFolder() && wanted(entry)) {
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
    void run(unsigned threads, const std::function<bool(const ZipEntry&)>& wanted) {
        forEachEntryContent(
            reader_, password_, threads, control_,
            [this](const ZipEntry& entry, EntryReader& content) { extract(entry, content); },
            wanted);
    }

private:
    void extract(const ZipEntry& entry, EntryReader& content) {
        const fs::OpenFolder& staging = transaction_.stagingFolder(entry.path);
        if (entry.isLink()) {
            extractLink(content, entry, staging);
            return;
        }
        const std::string target = staging.pathOf(entry.path);
        thread_local std::vector<std::uint8_t> buffer;
        buffer.resize(kCopyBuffer);
        fs::UniqueFd fd = staging.createFile(entry.path, 0600);
        std::uint64_t offset = 0;
        while (const std::size_t n = content.read(buffer.data(), buffer.size())) {
            // Runs of zeros stay holes, as they were in a sparse file.
            if (!allZero(buffer.data(), n)) {
                fs::writeAllAt(fd, offset, buffer.data(), n, target);
            }
            offset += n;
            control_.advance(n);
            control_.throwIfCancelled();
        }
        fs::truncateTo(fd, offset, target);
        fs::setModeAndTime(fd, entry.mode, entry.modified, target, kCannotWrite);
        fd.close(target);
    }

    // The rules held the target's length to what a link can hold.
    static void extractLink(EntryReader& content, const ZipEntry& entry,
                            const fs::OpenFolder& staging) {
        staging.makeLink(readLinkTarget(entry, content), entry.path, kCannotWrite);
        staging.setLinkTime(entry.path, entry.modified, kCannotWrite);
    }

    const ZipReader& reader_;
    std::string password_;
    const fs::FolderTransaction& transaction_;
    JobControl& control_;
};

// The backup taken first: it commits on its own, and is recorded before the
// restore goes on; a stop after it leaves it as an ordinary backup.
void takeSafetyBackup(const SafetyBackup& safety, const std::vector<std::string>& listedArchives,
                      JobControl& control, unsigned threads) {
    JobControl part(control);
    safety.record(runCompress(safety.command, listedArchives, safety.moment, part, threads));
    control.throwIfCancelled();
}

} // namespace

std::vector<QString> recoverInterruptedRestore(const QString& folder) {
    std::vector<QString> untrusted;
    for (const std::string& path : fs::RestoreRecovery::recover(fs::toSystemPath(folder))) {
        untrusted.push_back(fs::fromSystemPath(path));
    }
    return untrusted;
}

namespace {

// Where the system makes no links here (Windows without the right or the
// developer mode, a file system without them), an archive that holds one is
// refused before anything changes, naming it: the restore could not make the
// folder the archive's tree.
void requireLinksCanBeMade(const ZipReader& reader, const fs::OpenFolder& into,
                           const std::function<bool(const ZipEntry&)>& wanted) {
    const auto& entries = reader.entries();
    const auto link = std::find_if(entries.begin(), entries.end(), [&](const ZipEntry& entry) {
        return entry.isLink() && wanted(entry);
    });
    if (link != entries.end() && !into.canMakeLinks()) {
        throw Failure(FailureCode::PermissionDenied,
                      QStringLiteral("Yedekteki \"%1\" bir bağlantı; bu sistem program "
                                     "klasöründe bağlantı oluşturmaya izin vermiyor (Windows'ta "
                                     "Geliştirici Modu ya da yönetici hakkı gerekir). Hiçbir "
                                     "dosya değiştirilmedi.")
                          .arg(fs::fromSystemPath(link->path)));
    }
}

} // namespace

void runExtract(const ExtractCommand& command, JobControl& control, unsigned threads,
                const LeftInPlace& leftInPlace, const std::optional<SafetyBackup>& safety,
                fs::StepWatch* watch) {
    const std::string archivePath = fs::toSystemPath(command.archivePath);
    const std::string destination = fs::toSystemPath(command.destinationFolder);
    const std::unique_ptr<ZipReader> reader = openCheckedArchive(archivePath);
    const fs::OpenFolder into =
        fs::OpenFolder::open(destination, QStringLiteral("Geri yükleme klasörüne ulaşılamadı"));
    const std::vector<std::string>& programFiles = leftInPlace.programFiles;
    const auto wanted = [&](const ZipEntry& entry) {
        const std::string_view top = entry.path.substr(0, entry.path.find('/'));
        return std::none_of(programFiles.begin(), programFiles.end(),
                            [&](const std::string& name) { return into.sameName({}, top, name); });
    };
    requireLinksCanBeMade(*reader, into, wanted);
    BackupExclusions ours = BackupExclusions::forTarget(
        leftInPlace.target, leftInPlace.listedArchives, kArchivePassword.toStdString());
    {
        std::set<std::string, std::less<>> implied;
        std::vector<TreeEntry> items = restoredItems(reader->entries(), wanted, implied);
        // Refused before anything is made, or any backup taken.
        fs::FolderTransaction transaction(
            destination, std::move(items),
            {programFiles, [&](const fs::FoundEntry& entry) { return ours.staysInPlace(entry); }},
            std::move(implied), watch);
        if (safety) {
            control.beginStep(JobStep::CheckingArchive, 0, 15);
            // A damaged archive costs no backup.
            readEveryEntry(*reader, command.password.toStdString(), threads, control);
            control.beginStep(JobStep::BackingUpFirst, 15, 60);
            takeSafetyBackup(*safety, leftInPlace.listedArchives, control, threads);
            control.beginStep(JobStep::Restoring, 60, 100);
        } else {
            control.beginStep(JobStep::Restoring, 0, 100);
        }
        control.setTotal(contentWork(*reader));
        transaction.prepare();
        Extractor(*reader, command, transaction, control).run(threads, wanted);
        control.commit(); // from here on the restore completes
        transaction.commit();
    } // the working folders, with the old files, go before 100 % is reported
    control.complete();
}

} // namespace kavlento::archive
