#include "app/Retention.h"

#include "fs/File.h"
#include "fs/SmallFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace kavlento::app {

namespace {

const QRegularExpression kArchiveName(QStringLiteral("^[0-9]+\\.[0-9]+(-[0-9]+)?\\.ksd$"));

// An archive of ours: named as this program names them, in a folder directly
// inside the target.
bool isOurArchiveIn(const QString& path, const QString& target) {
    const QFileInfo file(path);
    return kArchiveName.match(file.fileName()).hasMatch() &&
           QDir::cleanPath(file.absolutePath() + QStringLiteral("/..")) == QDir::cleanPath(target);
}

} // namespace

void Retention::keepNewest(int count, const QString& target) {
    const store::History history = history_.load().value_or(store::History());
    // Newest first, each archive once.
    QStringList archives;
    QSet<QString> seen;
    for (std::size_t i = history.size(); i-- > 0;) {
        const QString path = history.field(i, 2);
        if (isOurArchiveIn(path, target) && !seen.contains(path)) {
            seen.insert(path);
            archives.append(path);
        }
    }
    QStringList deleted;
    for (qsizetype i = count; i < archives.size(); ++i) {
        if (!fs::isRegularFile(archives[i])) {
            continue; // nothing of it here to delete: its record stays
        }
        fs::removeFile(fs::toSystemPath(archives[i]), QStringLiteral("Eski yedek silinemedi"));
        deleted.append(archives[i]);
        dialogs_.note(QStringLiteral("eski yedek silindi: %1").arg(archives[i]));
    }
    if (deleted.isEmpty()) {
        return;
    }
    history_.removeArchives(deleted);
    for (const QString& archive : deleted) {
        fs::removeEmptyFolder(fs::toSystemPath(QFileInfo(archive).absolutePath()));
    }
}

} // namespace kavlento::app
