#include "app/Retention.h"

#include "app/BackupJob.h"
#include "fs/File.h"
#include "fs/SmallFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace kavlento::app {

namespace {

// An archive of ours: named as this program names them, in a folder directly
// inside the target.
bool isOurArchiveIn(const QString& path, const QString& target) {
    const QFileInfo file(path);
    return isArchiveFileName(file.fileName()) &&
           QDir::cleanPath(file.absolutePath() + QStringLiteral("/..")) == QDir::cleanPath(target);
}

} // namespace

void Retention::keepNewest(int count, const QString& target) {
    const store::History history = history_.load().value_or(store::History());
    // Newest first, each archive once; only archives that are there count
    // among the newest, so a record whose file is gone keeps none from deletion.
    QStringList archives;
    QSet<QString> seen;
    for (std::size_t i = history.size(); i-- > 0;) {
        const QString path = history.archivePath(i);
        if (isOurArchiveIn(path, target) && !seen.contains(path) && fs::isRegularFile(path)) {
            seen.insert(path);
            archives.append(path);
        }
    }
    QStringList deleted;
    try {
        for (qsizetype i = count; i < archives.size(); ++i) {
            fs::removeFile(fs::toSystemPath(archives[i]), QStringLiteral("Eski yedek silinemedi"));
            deleted.append(archives[i]);
            dialogs_.note(QStringLiteral("eski yedek silindi: %1").arg(archives[i]));
        }
    } catch (...) {
        forget(deleted); // what is gone leaves the history even when the rest fails
        throw;
    }
    forget(deleted);
}

void Retention::forget(const QStringList& deleted) const {
    if (deleted.isEmpty()) {
        return;
    }
    history_.removeArchives(deleted);
    for (const QString& archive : deleted) {
        fs::removeEmptyFolder(fs::toSystemPath(QFileInfo(archive).absolutePath()));
    }
}

} // namespace kavlento::app
