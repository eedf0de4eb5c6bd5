#include "app/HistoryList.h"

namespace kavlento::app {

void loadHistory(const store::HistoryFile& file, MainView& view) {
    if (const auto records = file.load()) {
        view.showHistory(*records);
    }
}

} // namespace kavlento::app
