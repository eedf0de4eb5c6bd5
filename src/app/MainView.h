#pragma once

#include "store/History.h"

#include <QList>
#include <QString>

#include <optional>

namespace kavlento::app {

// The main window as the handlers and jobs see it: texts to read and write, the
// history list and the two buttons that act on its entries.
class MainView {
public:
    virtual ~MainView() = default;

    // `Text1`: the target folder.
    virtual QString targetText() const = 0;
    virtual void setTargetText(const QString& text) = 0;
    // `Text2`: the program folder as shown, upper-cased.
    virtual void setProgramFolderText(const QString& text) = 0;

    // `ListView1`, rebuilt in full.
    virtual void showHistory(store::History history) = 0;
    // Nothing when the list is empty or no item is selected.
    virtual std::optional<store::HistoryRecord> selectedHistoryRecord() const = 0;
    virtual int historyCount() const = 0;

    // `Command4` then `Command3`, always together.
    virtual void setEntryButtonsEnabled(bool enabled) = 0;
};

} // namespace kavlento::app
