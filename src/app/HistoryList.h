#pragma once

#include "app/MainView.h"
#include "app/UserDialogs.h"
#include "store/HistoryFile.h"

namespace kavlento::app {

// Rebuilds the window's history list from the history file; leaves the list as
// it is when the file is absent.
void loadHistory(const store::HistoryFile& file, MainView& view);

// The entry an action of the list acts on: the selected one. When entries are
// listed but none is selected, the user is told to choose one first.
std::optional<store::HistoryRecord> selectedEntry(const MainView& view, UserDialogs& dialogs);

} // namespace kavlento::app
