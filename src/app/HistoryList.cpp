#include "app/HistoryList.h"

namespace kavlento::app {

void loadHistory(const store::HistoryFile& file, MainView& view) {
    if (std::optional<store::History> history = file.load()) {
        view.showHistory(std::move(*history));
    }
}

std::optional<store::HistoryRecord> selectedEntry(const MainView& view, UserDialogs& dialogs) {
    std::optional<store::HistoryRecord> selected = view.selectedHistoryRecord();
    if (!selected && view.historyCount() > 0) {
        dialogs.inform(QStringLiteral("LÜTFEN ÖNCE LİSTEDEN BİR YEDEK SEÇİN."),
                       QStringLiteral("UYARI"), MessageIcon::Information);
    }
    return selected;
}

} // namespace kavlento::app
