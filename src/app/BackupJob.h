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

#include <atomic>
#include <optional>

namespace kavlento::archive {
class ArchiveComponent;
} // namespace kavlento::archive

namespace kavlento::app {

// What one backup is called and where it goes, from the target folder and the
// moment it starts.
struct BackupNames {
    QString dateText;    // the date text as stored, with '/' made '-' to name a folder
    QString datedFolder; // target, its separator, date text (nothing is trimmed)
    QString archiveName; // day month year "." hour minute second ".ksd", no leading zeros
    QString archivePath; // dated folder, separator, archive name
};

// Names the archive after the moment. (When that name is taken by the time
// the archive is complete, the archive component gives it the next free one,
// "…2300-2.ksd".)
BackupNames backupNames(const QString& target, const Moment& moment);
// The record of a backup that started at `started` into `datedFolder` (as the
// target spells it) and whose archive got the name `archivePath` ends with.
store::HistoryRecord backupRecord(const Moment& started, const QString& datedFolder,
                                  const QString& archivePath);
// Appends `record`, or, when it cannot be written, removes its archive and
// throws what went wrong: a backup is its archive and its record.
void recordOrRemove(const store::HistoryFile& history, const store::HistoryRecord& record,
                    const QString& archivePath);
// The archives the history lists, which no backup packs wherever they lie.
QStringList listedArchives(const std::optional<store::History>& history);

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
        archive::ArchiveComponent& archiver;
        const store::HistoryFile& history;
        const store::TargetSetting& target;
        JobState& state;
        CloseOperation& close;
    };

    explicit BackupJob(Parts parts) : p_(parts) {}

    // Opens the folder chooser at the stored target (the user's home folder
    // when none is stored, or it is gone).
    void chooseTarget();
    // Starts the backup and shows its progress; false, with the reason told,
    // when no backup can be started (no target, or its disk is not attached).
    bool run();
    // The archive is complete, checked and named: records it, says so (or
    // notes it in the log of an unattended run, or of a run asked to stop),
    // keeps the newest archives when asked, and ends.
    void finish(const QString& archivePath, int entryCount, qint64 archiveSize,
                qint64 checkMilliseconds);
    // The archive is complete and named, and the user-interface thread cannot
    // finish (its display stopped answering): only the record is written,
    // from whichever thread, touching no window.
    void recordWithoutTheWindow(const QString& archivePath);

private:
    // Records the complete archive; when that fails, the archive goes too.
    void appendRecordOrRemove(const QString& archivePath);
    // --sakla after the recorded backup; false when it could not do all it
    // should (said in a line each).
    bool keepNewest(int count);

    Parts p_;
    std::atomic<bool> recorded_{false}; // by finish() or by a rescue without the window
    store::HistoryRecord record_;       // of the running backup, once its archive is named
    Moment started_;
    QString datedFolder_;
    QElapsedTimer running_;
};

} // namespace kavlento::app
