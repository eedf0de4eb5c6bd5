#include "app/AdminCommands.h"

#include "app/TargetFolder.h"
#include "archive/ArchiveCommand.h"
#include "archive/EntryContents.h"
#include "base/Failure.h"
#include "fs/File.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace kavlento::app {

namespace {

enum class Absence { None, FolderAway, FileGone };

// Why an archive cannot be read at all: its folder is not there (a disk not
// attached, or the folder deleted), or only its file is gone.
Absence absenceOf(const std::string& path) {
    try {
        if (fs::lookUpFollowing(path).kind == fs::PathKind::File) {
            return Absence::None;
        }
        return fs::lookUpFollowing(fs::folderOf(path)).kind == fs::PathKind::Folder
                   ? Absence::FileGone
                   : Absence::FolderAway;
    } catch (const Failure&) {
        return Absence::FolderAway; // a folder on the way cannot be looked into
    }
}

} // namespace

AdminCommands::StoredTarget AdminCommands::storeTarget(const QString& folder) {
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString refusal = targetRefusal(absolute);
    if (!refusal.isEmpty()) {
        return {std::nullopt, refusal};
    }
    p_.target.save(absolute);
    return {absolute, QStringLiteral("yedekleme hedefi kaydedildi: %1").arg(absolute)};
}

ExitStatus AdminCommands::checkBackups() {
    const store::History history = p_.history.load().value_or(store::History());
    QSet<QString> seen;
    int sound = 0;
    int damaged = 0;
    int away = 0;    // its folder is not there: a disk not attached, or deleted
    int missing = 0; // its folder is there, the file is not
    for (std::size_t i = 0; i < history.size(); ++i) {
        const QString path = history.archivePath(i);
        if (seen.contains(path)) {
            continue;
        }
        seen.insert(path);
        const Absence absence = absenceOf(fs::toSystemPath(path));
        if (absence != Absence::None) {
            const bool gone = absence == Absence::FileGone;
            p_.output.line(
                (gone ? QStringLiteral("YOK           %1") : QStringLiteral("ULAŞILAMIYOR  %1"))
                    .arg(path));
            ++(gone ? missing : away);
            continue;
        }
        try {
            archive::testArchive(fs::toSystemPath(path), archive::kArchivePassword.toStdString());
            p_.output.line(QStringLiteral("SAĞLAM        %1").arg(path));
            ++sound;
        } catch (const Failure& failure) {
            p_.output.line(
                QStringLiteral("BOZUK         %1: hata %2: %3")
                    .arg(path, QString::number(failure.number()), failure.description()));
            ++damaged;
        }
    }
    QString summary = QStringLiteral("Kavlento: %1 yedek: %2 sağlam, %3 bozuk")
                          .arg(seen.size())
                          .arg(sound)
                          .arg(damaged);
    if (away > 0 || missing > 0) {
        summary += QStringLiteral("; %1 denetlenemedi: %2 ulaşılamıyor (klasörü yok: diski "
                                  "takılı değil ya da klasörü silinmiş), %3 yok (dosyası "
                                  "silinmiş)")
                       .arg(away + missing)
                       .arg(away)
                       .arg(missing);
    }
    if (seen.isEmpty()) {
        summary += QStringLiteral("; geçmişte hiç yedek yok, denetlenecek bir şey bulunamadı");
    }
    p_.output.line(summary + QLatin1Char('.'));
    if (damaged > 0) {
        return ExitStatus::DamagedBackups;
    }
    return away > 0 || missing > 0 || seen.isEmpty() ? ExitStatus::UncheckedBackups
                                                     : ExitStatus::Normal;
}

} // namespace kavlento::app
