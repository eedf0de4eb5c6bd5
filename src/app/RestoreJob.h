#pragma once

#include "app/JobState.h"
#include "app/MainView.h"
#include "app/ProgramEnd.h"
#include "app/UserDialogs.h"

#include <QString>
#include <QStringList>

namespace kavlento::archive {
class ArchiveComponent;
} // namespace kavlento::archive

namespace kavlento::app {

// The restore: of the selected history entry ("GERİ YÜKLE") or of a picked
// archive (the lower "GÖZAT..."), and its completion at 100 %.
class RestoreJob {
public:
    struct Parts {
        QString programFolder;
        const MainView& view;
        UserDialogs& dialogs;
        archive::ArchiveComponent& zip;
        JobState& state;
        ProgramEnd& end;
    };

    explicit RestoreJob(Parts parts) : p_(parts) {}

    void restoreSelected();
    void restorePicked();
    void startRestore(const QString& archivePath);
    // After every progress report: at 100 during a restore, the completion
    // message, the marker file and the end.
    void completionTest();

private:
    // Names at the top of the program folder that a restore leaves as they are.
    QStringList programsOwnFiles() const;

    Parts p_;
};

} // namespace kavlento::app
