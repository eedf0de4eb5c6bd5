#include "app/HistoryList.h"

namespace kavlento::app {

void loadHistory(const store::HistoryFile& file, MainView& view) {
    if (std::optional<store::History> history = file.load()) {
        view.showHistory(std::move(*history));
    }
}

} // namespace kavlento::app
