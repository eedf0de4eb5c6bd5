#pragma once

#include "app/MainView.h"
#include "app/ProgramEnd.h"
#include "app/SharedState.h"
#include "app/UserDialogs.h"

#include <QString>

namespace kavlento::archive {

class ArchiveComponent;

// The restore: of the selected history entry ("GERİ YÜKLE") or of a picked
// archive (the lower "GÖZAT..."), and its completion at 100 %.
class RestoreJob {
public:
    struct Parts {
        QString programFolder;
        const MainView& view;
        UserDialogs& dialogs;
        ArchiveComponent& zip;
        SharedState& state;
        ProgramEnd& end;
    };

    explicit RestoreJob(Parts parts) : p_(parts) {}

    void restoreSelected();
    void restorePicked();
    void YEDEKLEE_BASLA(const QString& archivePath);
    // After every progress report: at 100 during a restore, the completion
    // message, the marker file and the end.
    void completionTest();

private:
    Parts p_;
};

} // namespace kavlento::archive
