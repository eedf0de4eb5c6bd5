#include "app/AdminCommands.h"

#include "app/BackupJob.h"
#include "archive/ArchiveCommand.h"
#include "archive/EntryContents.h"
#include "base/Failure.h"
#include "fs/File.h"
#include "fs/SmallFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace kavlento::app {

ExitStatus AdminCommands::storeTarget(const QString& folder) {
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QString refusal = targetRefusal(absolute);
    if (refusal.isEmpty() &&
        fs::lookUpFollowing(fs::toSystemPath(absolute)).kind != fs::PathKind::Folder) {
        refusal = QStringLiteral("BÖYLE BİR KLASÖR YOK: %1").arg(absolute);
    }
    if (!refusal.isEmpty()) {
        p_.output.line(QStringLiteral("Kavlento: ") + refusal);
        return ExitStatus::UsageError;
    }
    p_.target.save(absolute);
    p_.output.line(QStringLiteral("Kavlento: yedekleme hedefi kaydedildi: %1").arg(absolute));
    return ExitStatus::Normal;
}

ExitStatus AdminCommands::checkBackups() {
    const store::History history = p_.history.load().value_or(store::History());
    QSet<QString> seen;
    int sound = 0;
    int damaged = 0;
    int away = 0;
    for (std::size_t i = 0; i < history.size(); ++i) {
        const QString path = history.archivePath(i);
        if (seen.contains(path)) {
            continue;
        }
        seen.insert(path);
        try {
            if (!fs::isRegularFile(path)) {
                p_.output.line(QStringLiteral("ULAŞILAMIYOR  %1").arg(path));
                ++away;
                continue;
            }
            archive::testArchive(fs::toSystemPath(path), archive::kArchivePassword.toStdString());
            p_.output.line(QStringLiteral("SAĞLAM        %1").arg(path));
            ++sound;
        } catch (const Failure& failure) {
            p_.output.line(QStringLiteral("BOZUK         %1: hata %2: %3")
                               .arg(path)
                               .arg(failure.number())
                               .arg(failure.description()));
            ++damaged;
        }
    }
    p_.output.line(QStringLiteral("Kavlento: %1 yedek denetlendi: %2 sağlam, %3 bozuk, %4 "
                                  "ulaşılamıyor.")
                       .arg(seen.size())
                       .arg(sound)
                       .arg(damaged)
                       .arg(away));
    return damaged > 0 ? ExitStatus::DamagedBackups : ExitStatus::Normal;
}

} // namespace kavlento::app
