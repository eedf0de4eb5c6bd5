#include "app/AdminCommands.h"

#include "app/Retention.h"
#include "app/TargetFolder.h"
#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/EntryReading.h"
#include "archive/OwnFiles.h"
#include "base/Failure.h"
#include "base/Megabytes.h"
#include "fs/File.h"
#include "fs/OpenFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace kavlento::app {

AdminCommands::StoredTarget AdminCommands::storeTarget(const QString& folder) {
    // Spelled as the folder chooser spells it ("D:\Yedek" on Windows), so
    // the records and messages name it one way.
    const QString absolute =
        QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
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
    // A line that holds no record may have named a backup: it is not read.
    const std::vector<store::History::UnreadLine> unread = history.unreadLines();
    for (const store::History::UnreadLine& line : unread) {
        p_.output.line(QStringLiteral("OKUNAMADI     yedekleme.lst satır %1: %2")
                           .arg(line.number)
                           .arg(line.text));
    }
    const std::size_t unreadCount = history.unreadCount();
    if (unreadCount > unread.size()) {
        p_.output.line(QStringLiteral("OKUNAMADI     yedekleme.lst: okunamayan %1 satırın "
                                      "yalnızca ilk %2 tanesi yazıldı")
                           .arg(unreadCount)
                           .arg(unread.size()));
    }
    QString summary = QStringLiteral("Kavlento: %1 yedek: %2 sağlam, %3 bozuk")
                          .arg(seen.size())
                          .arg(sound)
                          .arg(damaged);
    if (unreadCount > 0) {
        summary += QStringLiteral("; geçmişin %1 satırı okunamadı (bozuk kayıt)").arg(unreadCount);
    }
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
    return away > 0 || missing > 0 || seen.isEmpty() || unreadCount > 0
               ? ExitStatus::UncheckedBackups
               : ExitStatus::Normal;
}

namespace {

QString freeSpace(const std::optional<std::uint64_t>& bytes) {
    return bytes ? megabytes(*bytes) + QStringLiteral(" boş")
                 : QStringLiteral("boş yeri bilinmiyor");
}

// "3 gün 4 saat", "5 saat 2 dakika", "12 dakika".
QString age(std::int64_t seconds) {
    const std::int64_t minutes = std::max<std::int64_t>(seconds, 0) / 60;
    if (minutes >= 24 * 60) {
        return QStringLiteral("%1 gün %2 saat").arg(minutes / (24 * 60)).arg(minutes / 60 % 24);
    }
    if (minutes >= 60) {
        return QStringLiteral("%1 saat %2 dakika").arg(minutes / 60).arg(minutes % 60);
    }
    return QStringLiteral("%1 dakika").arg(minutes);
}

} // namespace

// Archives that may be this folder's but are not counted, so that an
// administrator sees what --sakla leaves on the disk.
void AdminCommands::sayUncounted(const archive::TargetArchives& found) {
    const std::pair<const std::vector<std::string>*, QString> kinds[] = {
        {&found.unmarked, QStringLiteral("hangi klasörün olduğunu söylemeyen eski biçim yedek")},
        {&found.elsewhere, QStringLiteral("bu klasörün eski yerinden ya da bu makinenin eski "
                                          "adıyla alınmış görünen yedek")},
        {&found.foreign, QStringLiteral("bu klasörün yedeği gibi görünen, ama başka bir "
                                        "kullanıcının koyabileceği dosya")},
    };
    for (const auto& [paths, what] : kinds) {
        if (!paths->empty()) {
            p_.output.line(
                QStringLiteral("%1: %2 (sayılmadı; --sakla silmez)").arg(what).arg(paths->size()));
        }
    }
}

ExitStatus AdminCommands::showStatus(int days) {
    const QString target = p_.target.load().value_or(QString());
    p_.output.line(QStringLiteral("Kavlento durumu: %1").arg(p_.programFolder));
    const auto stale = [&](const QString& why) {
        p_.output.line(QStringLiteral("SORUN: %1").arg(why));
        return ExitStatus::BackupsStale;
    };
    if (target.isEmpty()) {
        p_.output.line(QStringLiteral("hedef: seçilmemiş"));
        return stale(QStringLiteral("yedekleme hedefi seçilmemiş, yedek alınmıyor"));
    }
    if (!absentDiskRefusal(target).isEmpty() ||
        fs::lookUpFollowing(fs::toSystemPath(target)).kind != fs::PathKind::Folder) {
        p_.output.line(
            QStringLiteral("hedef: %1 (DİSKİ TAKILI DEĞİL ya da klasör yok)").arg(target));
        return stale(QStringLiteral("yedekleme hedefine ulaşılamıyor"));
    }
    const fs::OpenFolder folder = fs::OpenFolder::open(fs::toSystemPath(target), {});
    p_.output.line(QStringLiteral("hedef: %1 (diski takılı, %2)")
                       .arg(target, freeSpace(folder.availableBytes())));
    const archive::TargetArchives found =
        archive::archivesIn(folder, archive::originOf(fs::toSystemPath(p_.programFolder), 0),
                            datedFolderNames(p_.history.load(), target));
    p_.output.line(QStringLiteral("yedek sayısı: %1").arg(found.ours.size()));
    sayUncounted(found);
    if (found.ours.empty()) {
        return stale(QStringLiteral("hedefte bu klasörün hiç yedeği yok"));
    }
    const archive::TargetArchives::Archive& newest = found.ours.front();
    const QString newestPath = fs::fromSystemPath(folder.pathOf(newest.path()));
    const std::int64_t now = p_.clock.now().seconds;
    if (isAheadOf(newest.origin.moment, now)) {
        // Taken while the clock was ahead, or the clock is behind now: either
        // way its age, and whether backups go on, cannot be told.
        p_.output.line(QStringLiteral("en yeni yedek: %1 (saati ileride: %2)")
                           .arg(newestPath, momentText(newest.origin.moment)));
        p_.output.line(QStringLiteral("SORUN: en yeni yedeğin saati şimdiki saatten ileride; bu "
                                      "makinenin saati ya şimdi ya da o yedek alınırken yanlıştı, "
                                      "yedeklerin yaşı bilinemiyor"));
        return ExitStatus::BackupAheadOfClock;
    }
    const std::int64_t old = now - newest.origin.moment;
    p_.output.line(QStringLiteral("en yeni yedek: %1 (%2 önce)").arg(newestPath, age(old)));
    if (old >= static_cast<std::int64_t>(days) * 24 * 3600) {
        return stale(QStringLiteral("en yeni yedek %1 günden eski").arg(days));
    }
    p_.output.line(QStringLiteral("TAMAM"));
    return ExitStatus::Normal;
}

} // namespace kavlento::app
