#pragma once

#include "app/JobState.h"
#include "app/MainView.h"
#include "app/ProgramEnd.h"
#include "app/UserDialogs.h"
#include "archive/ArchiveCommand.h"
#include "archive/JobControl.h"
#include "base/Clock.h"
#include "store/HistoryFile.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace kavlento::archive {
class ArchiveComponent;
} // namespace kavlento::archive

namespace kavlento::app {

// The restore: of the selected history entry ("GERİ YÜKLE") or of a picked
// archive (the lower "GÖZAT..."), and its completion at 100 %. Before anything
// changes, the folder as it is goes into an ordinary backup in the target,
// recorded in the history, unless the newest archive already holds it as it is;
// where that cannot be done, the user is asked first.
class RestoreJob {
public:
    struct Parts {
        QString programFolder;
        MainView& view;
        UserDialogs& dialogs;
        archive::ArchiveComponent& archiver;
        JobState& state;
        ProgramEnd& end;
        const store::HistoryFile& history;
        const Clock& clock;
    };

    explicit RestoreJob(Parts parts) : p_(parts) {}

    void restoreSelected();
    void restorePicked();
    void startRestore(const QString& archivePath);
    // A step of the restore begins: the progress window names it.
    void stepBegun(archive::JobStep step, int from, int to);
    // After every progress report: at 100 during a restore, the marker file,
    // the completion message and the end.
    void completionTest();

private:
    // The backup to take first: none when none is needed, or when the user
    // chose to go on without one it could not take.
    struct BackupFirst {
        std::optional<archive::CompressCommand> command;
    };
    // What reading the folder and its newest archive came to: the backup to
    // take first, or why none can be taken and what would let it be (both
    // empty when none is needed).
    struct SafetyCheck {
        std::optional<archive::CompressCommand> command;
        std::pair<QString, QString> refusal;
    };
    // Nothing when the user chose not to restore.
    std::optional<BackupFirst> safetyBackup(const Moment& moment);
    // Reads the folder and the archives; touches no window.
    SafetyCheck checkSafety(const QString& target, const Moment& moment) const;
    // Names at the top of the program folder that a restore leaves as they are.
    QStringList programsOwnFiles() const;
    void record(const QString& datedFolder, const Moment& started, const QString& archivePath);

    Parts p_;
    bool backingUpFirst_ = false;
};

} // namespace kavlento::app
