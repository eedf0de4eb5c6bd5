#include "app/EntryRemoval.h"

#include "app/HistoryList.h"

namespace kavlento::app {

namespace {
const QString kRemoveQuestion = QStringLiteral("Seçmiş Olduğunuz Yedek Birimi Silinsin mi?");
const QString kRemoveTitle = QStringLiteral("UYARI");
} // namespace

void EntryRemoval::removeSelected() {
    const auto selected = selectedEntry(p_.view, p_.dialogs);
    if (!selected) {
        return; // an empty list, or none selected: nothing to ask about
    }
    if (!p_.dialogs.askYesNo(kRemoveQuestion, kRemoveTitle, MessageIcon::Question)) {
        return;
    }
    if (p_.history.removeArchive(selected->archivePath)) {
        loadHistory(p_.history, p_.view);
    }
    p_.view.setEntryButtonsEnabled(false);
}

} // namespace kavlento::app
