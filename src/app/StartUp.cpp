#include "app/StartUp.h"

#include "app/HistoryList.h"
#include "archive/ExtractJob.h"
#include "fs/File.h"

#include <QDir>

namespace kavlento::app {

namespace {
const QString kAlreadyRunning =
    QStringLiteral("bu klasörde zaten çalışıyor; bu başlatma hiçbir şey yapmadan kapandı (yedek "
                   "alınmadı). Açık kalan Kavlento penceresini kapatıp yeniden deneyin.");
const QString kForeignWorkingFolder = QStringLiteral(
    "Program klasöründe Kavlento'nun olmayan bir çalışma klasörü var; dokunulmadı (sahibi başka "
    "bir kullanıcı ya da başka kullanıcılar ona yazabiliyor). Kaldırılana ya da adı "
    "değiştirilene kadar geri yükleme yapılamaz: %1");
const QString kOpenToOthers = QStringLiteral(
    "Kavlento yönetici (root) olarak çalışıyor ve program klasörüne başka kullanıcılar da "
    "yazabiliyor; oraya koydukları dosyalar yedeklere ve geri yüklemelere karışabilir. "
    "Klasörün başkalarına yazma iznini kapatın (chmod go-w): %1");
} // namespace

bool StartUp::run() {
    if (p_.commandLine.adminCommand() == AdminCommand::Help) {
        p_.output.line(p_.commandLine.help());
        p_.end.end(ExitStatus::Normal);
        return false;
    }
    if (!p_.instance.acquire()) {
        // A start without the launch code stays silent in every case.
        if (p_.commandLine.hasLaunchCode()) {
            p_.dialogs.note(kAlreadyRunning);
        }
        p_.end.end(ExitStatus::AlreadyRunning);
        return false;
    }
    showStoredFiles();
    p_.view.setProgramFolderText(QDir::toNativeSeparators(p_.programFolder).toUpper());

    if (!p_.commandLine.hasLaunchCode()) {
        p_.end.end(ExitStatus::NoLaunchCode); // writes nothing, says nothing
        return false;
    }
    // A restore cut off by a crash is undone before anything else; it may
    // take back the history and the setting it brought, so they are read again.
    for (const QString& untrusted : archive::recoverInterruptedRestore(p_.programFolder)) {
        p_.dialogs.note(kForeignWorkingFolder.arg(untrusted));
    }
    // The administrator packs and moves whatever lies there; anyone who may
    // write in it chooses some of that.
    if (fs::isAdministrator() &&
        (fs::lookUpFollowing(fs::toSystemPath(p_.programFolder)).mode & 022) != 0) {
        p_.dialogs.note(kOpenToOthers.arg(p_.programFolder));
    }
    showStoredFiles();
    if (const QString warning = p_.commandLine.warning(); !warning.isEmpty()) {
        p_.dialogs.note(warning);
    }
    if (!p_.commandLine.refusal().isEmpty()) {
        p_.output.line(QStringLiteral("Kavlento: %1 Seçenekler: kavlento --yardım")
                           .arg(p_.commandLine.refusal()));
        p_.end.end(ExitStatus::UsageError);
        return false;
    }
    if (p_.commandLine.isUnattended()) {
        p_.unattended.run();
        return false;
    }
    switch (p_.commandLine.adminCommand()) {
    case AdminCommand::StoreTarget: {
        const auto stored = p_.admin.storeTarget(p_.commandLine.targetToStore());
        p_.output.line(QStringLiteral("Kavlento: ") + stored.said);
        p_.end.end(stored.folder ? ExitStatus::Normal : ExitStatus::UsageError);
        return false;
    }
    case AdminCommand::CheckBackups:
        p_.end.end(p_.admin.checkBackups());
        return false;
    case AdminCommand::Status:
        p_.end.end(p_.admin.showStatus(p_.commandLine.daysAllowed()));
        return false;
    case AdminCommand::Help:
    case AdminCommand::None:
        break;
    }
    p_.state.lastPercent = 0;
    return true;
}

void StartUp::showStoredFiles() {
    loadHistory(p_.history, p_.view);
    p_.view.setTargetText(p_.target.load().value_or(QString()));
}

} // namespace kavlento::app
