#pragma once

#include "app/JobState.h"
#include "app/MainView.h"
#include "app/ProgramEnd.h"
#include "app/UserDialogs.h"
#include "base/Clock.h"
#include "store/HistoryFile.h"

#include <QString>
#include <QStringList>

#include <optional>

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
        const MainView& view;
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
    // After every progress report: at 100 during a restore, the marker file,
    // the completion message and the end.
    void completionTest();

private:
    // The compress command of the backup to take first: empty when none is
    // needed, or when the user chose to go on without one it could not take;
    // nothing when the user chose not to restore.
    std::optional<QString> safetyBackup(const Moment& moment);
    // Names at the top of the program folder that a restore leaves as they are.
    QStringList programsOwnFiles() const;
    void record(const QString& datedFolder, const Moment& started, const QString& archivePath);

    Parts p_;
};

} // namespace kavlento::app
