#pragma once

#include "app/MainView.h"
#include "app/UserDialogs.h"
#include "store/HistoryFile.h"

namespace kavlento::app {

// "İPTAL ET": asks, then removes every record of the selected archive from the
// history (the archive itself stays).
class EntryRemoval {
public:
    struct Parts {
        MainView& view;
        UserDialogs& dialogs;
        const store::HistoryFile& history;
    };

    explicit EntryRemoval(Parts parts) : p_(parts) {}

    void removeSelected();

private:
    Parts p_;
};

} // namespace kavlento::app
