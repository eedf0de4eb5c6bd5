#pragma once

#include "app/MainView.h"
#include "store/HistoryFile.h"

namespace kavlento::app {

// Rebuilds the window's history list from the history file; leaves the list as
// it is when the file is absent.
void loadHistory(const store::HistoryFile& file, MainView& view);

} // namespace kavlento::app
