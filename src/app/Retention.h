#pragma once

#include "app/UserDialogs.h"
#include "store/HistoryFile.h"

#include <QString>
#include <QStringList>

namespace kavlento::app {

// --sakla N: after a new backup has completed and passed its check, the
// archives this program wrote into dated folders of the current target (as
// its history lists them) beyond the newest N are deleted, with their records
// and the dated folders they leave empty. Nothing else is ever deleted: not
// an archive elsewhere, not one that is not there, not a file of another name.
class Retention {
public:
    Retention(const store::HistoryFile& history, UserDialogs& dialogs)
        : history_(history), dialogs_(dialogs) {}

    void keepNewest(int count, const QString& target);

private:
    // Removes the records of deleted archives, and the dated folders they left empty.
    void forget(const QStringList& deleted) const;

    const store::HistoryFile& history_;
    UserDialogs& dialogs_;
};

} // namespace kavlento::app
