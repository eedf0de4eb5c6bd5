#include "app/Retention.h"

#include "app/TargetFolder.h"

#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/EntryReading.h"
#include "base/Failure.h"

#include <QDateTime>

#include <algorithm>

namespace kavlento::app {

namespace {

const QString kCannotDelete = QStringLiteral("Eski yedek silinemedi");

} // namespace

QString momentText(std::int64_t moment) {
    return QDateTime::fromSecsSinceEpoch(moment).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
}

bool Retention::keepNewest(int count, const QString& target, const QString& justTaken,
                           std::int64_t now) {
    const fs::OpenFolder folder = fs::OpenFolder::open(fs::toSystemPath(target), kCannotDelete);
    const archive::TargetArchives found =
        archive::archivesIn(folder, archive::originOf(fs::toSystemPath(programFolder_), 0),
                            datedFolderNames(history_.load(), target));
    sayWhatStays(found, target);
    const fs::PathInfo taken =
        justTaken.isEmpty() ? fs::PathInfo() : fs::lookUp(fs::toSystemPath(justTaken));
    const auto isTaken = [&](const Archive& archive) {
        return taken.kind == fs::PathKind::File && archive.file.sameFile(taken);
    };
    std::vector<const Archive*> ranked; // the one just taken first, then newest first
    for (const Archive& archive : found.ours) {
        if (isTaken(archive)) {
            ranked.insert(ranked.begin(), &archive);
        } else if (isAheadOf(archive.origin.moment, now)) {
            dialogs_.note(QStringLiteral("saati ileride görünen yedek: %1 (%2)")
                              .arg(fs::fromSystemPath(folder.pathOf(archive.path())),
                                   momentText(archive.origin.moment)));
        } else {
            ranked.push_back(&archive);
        }
    }
    std::vector<Archive> deleted;
    int kept = 0;
    try {
        for (const Archive* entry : ranked) {
            const Archive& archive = *entry;
            if (isTaken(archive)) {
                ++kept; // read whole by its own backup moments ago
                checked_.add(archive.file);
            } else if (kept < count) {
                kept += isSound(folder, archive) ? 1 : 0; // a damaged one stays, uncounted
            } else if (isSound(folder, archive) && remove(folder, archive)) {
                deleted.push_back(archive);
                dialogs_.note(QStringLiteral("eski yedek silindi: %1")
                                  .arg(fs::fromSystemPath(folder.pathOf(archive.path()))));
            }
        }
    } catch (...) {
        forget(folder, deleted); // what is gone leaves the history even when the rest fails
        throw;
    }
    forget(folder, deleted);
    rememberChecked(found, deleted);
    return !foundDamaged_;
}

bool Retention::isSound(const fs::OpenFolder& target, const Archive& archive) {
    if (checked_.contains(archive.file)) {
        return true; // read whole on an earlier night, and not changed since
    }
    const std::string path = target.pathOf(archive.path());
    try {
        archive::testArchive(path, archive::kArchivePassword.toStdString());
        checked_.add(archive.file);
        return true;
    } catch (const Failure& failure) {
        dialogs_.note(QStringLiteral("BOZUK yedek, sayılmadı ve silinmeyecek: %1: hata %2: %3")
                          .arg(fs::fromSystemPath(path), QString::number(failure.number()),
                               failure.description()));
        foundDamaged_ = true;
        return false;
    }
}

bool Retention::remove(const fs::OpenFolder& target, const Archive& archive) const {
    // Only the very file that was found goes, by its name in its folder.
    const std::optional<fs::OpenFolder> dated = target.folder(archive.datedFolder);
    if (!dated || !dated->lookUp(archive.name).sameFile(archive.file)) {
        return false;
    }
    dated->removeFile(archive.name, kCannotDelete);
    return true;
}

void Retention::forget(const fs::OpenFolder& target, const std::vector<Archive>& deleted) const {
    const std::optional<store::History> history = history_.load();
    const auto deletedHere = [&](const std::string& path) {
        // A record names an archive as the target is spelled; what it leads to
        // now is nothing, so its folder and name are matched instead.
        try {
            const std::optional<std::string> folder = fs::resolvedPath(fs::folderOf(path));
            return folder && std::any_of(deleted.begin(), deleted.end(), [&](const Archive& a) {
                       const std::optional<fs::OpenFolder> dated = target.folder(a.datedFolder);
                       return dated && fs::lookUpFollowing(*folder).sameFile(dated->lookUp()) &&
                              fs::lastName(path) == a.name;
                   });
        } catch (const Failure&) {
            return false; // a record on a disk that cannot be looked into stays
        }
    };
    QStringList records;
    for (std::size_t i = 0; history && i < history->size(); ++i) {
        const QString record = history->archivePath(i);
        const std::string path = fs::toSystemPath(record);
        if (deletedHere(path)) {
            records.append(record);
        } else if (absenceOf(path) == Absence::FileGone) {
            records.append(record);
            dialogs_.note(
                QStringLiteral("yedek dosyası yok, kaydı geçmişten çıkarıldı: %1").arg(record));
        }
    }
    if (!records.isEmpty()) {
        history_.removeArchives(records);
    }
    for (const Archive& archive : deleted) {
        target.removeEmptyFolder(archive.datedFolder);
    }
}

void Retention::rememberChecked(const archive::TargetArchives& found,
                                const std::vector<Archive>& deleted) const {
    std::vector<fs::PathInfo> stillThere;
    for (const Archive& archive : found.ours) {
        if (std::none_of(deleted.begin(), deleted.end(),
                         [&](const Archive& a) { return a.file.sameFile(archive.file); })) {
            stillThere.push_back(archive.file);
        }
    }
    try {
        checked_.save(stillThere);
    } catch (const Failure& failure) {
        // Nothing is lost: the next night reads every archive whole again.
        dialogs_.note(QStringLiteral("denetlenmiş yedeklerin listesi yazılamadı, yarın hepsi "
                                     "yeniden okunacak: hata %1: %2")
                          .arg(failure.number())
                          .arg(failure.description()));
    }
}

// What is left alone and why, so that an administrator sees why a disk fills.
void Retention::sayWhatStays(const archive::TargetArchives& found, const QString& target) const {
    const std::pair<const std::vector<std::string>*, QString> counted[] = {
        {&found.unmarked, QStringLiteral("hangi program klasörünün olduğunu söylemiyor (eski "
                                         "biçim)")},
        {&found.elsewhere, QStringLiteral("bu klasörün eski yerinden ya da bu makinenin eski "
                                          "adıyla alınmış görünüyor")},
    };
    for (const auto& [paths, why] : counted) {
        if (!paths->empty()) {
            dialogs_.note(QStringLiteral("%1 yedek %2; --sakla onları saymaz ve silmez, "
                                         "gerekmiyorlarsa elle silin: %3 içinde, örneğin %4")
                              .arg(paths->size())
                              .arg(why, target, fs::fromSystemPath(paths->front())));
        }
    }
    for (const std::string& path : found.foreign) {
        dialogs_.note(QStringLiteral("bu klasörün yedeği gibi görünen, ama başka bir kullanıcının "
                                     "koyabileceği dosya; sayılmadı, silinmeyecek: %1")
                          .arg(fs::fromSystemPath(fs::joinPath(fs::toSystemPath(target), path))));
    }
    for (const std::string& path : found.unreadable) {
        dialogs_.note(QStringLiteral("yedek olarak okunamayan dosya, silinmeyecek: %1")
                          .arg(fs::fromSystemPath(fs::joinPath(fs::toSystemPath(target), path))));
    }
}

} // namespace kavlento::app
