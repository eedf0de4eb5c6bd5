#pragma once

#include "app/CloseOperation.h"
#include "app/CommandLine.h"
#include "app/JobState.h"
#include "app/MainView.h"
#include "app/UserDialogs.h"
#include "base/Clock.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <optional>

namespace kavlento::archive {
class ArchiveComponent;
} // namespace kavlento::archive

namespace kavlento::app {

// What one backup is called and where it goes, from the target folder and the
// moment it starts.
struct BackupNames {
    QString dateText;    // the date text as stored, with '/' made '-' to name a folder
    QString datedFolder; // target, separator, date text (nothing is trimmed)
    QString archiveName; // day month year "." hour minute second ".ksd", no leading zeros
    QString archivePath; // dated folder, separator, archive name
};

// Names the archive after the moment; when that name is taken in the dated
// folder, the next free one with a suffix ("…2300-2.ksd").
BackupNames backupNames(const QString& target, const Moment& moment);
// Whether a file is named as backupNames() names archives.
bool isArchiveFileName(const QString& name);

// The folders a backup must not pack, so that no archive goes into the next:
// the target folder, when it lies inside the program folder; when it is the
// program folder, every dated folder in it that holds archives; and the
// folders of archives in the history that lie inside the program folder (the
// component leaves out the dated folder itself in any case).
QStringList foldersNotToPack(const QString& programFolder, const QString& target,
                             const store::History& history);

// The backup: choosing the target folder ("GÖZAT..."), taking a backup ("YEDEK
// AL", also called by an unattended start), and finishing when the archive is
// complete.
class BackupJob {
public:
    struct Parts {
        QString programFolder;
        const CommandLine& commandLine;
        MainView& view;
        UserDialogs& dialogs;
        const Clock& clock;
        archive::ArchiveComponent& zip;
        const store::HistoryFile& history;
        const store::TargetSetting& target;
        JobState& state;
        CloseOperation& close;
    };

    explicit BackupJob(Parts parts) : p_(parts) {}

    // Opens the folder chooser at the stored target (the user's home folder
    // when none is stored, or it is gone).
    void chooseTarget();
    void run();
    // The archive is complete and checked: says so (or notes it in the log of
    // an unattended run), keeps the newest archives when asked, and ends.
    void finish(const QString& archivePath, int entryCount, qint64 archiveSize,
                qint64 checkMilliseconds);
    // Stops a backup that will not complete, and takes back the record it
    // appended unless its archive was completed all the same. (Nothing takes
    // back a killed backup's record.)
    void abandon();

private:
    Parts p_;
    std::optional<store::HistoryRecord> appended_;
    QElapsedTimer running_;
};

} // namespace kavlento::app
