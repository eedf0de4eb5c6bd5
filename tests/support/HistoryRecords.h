#pragma once

#include "store/History.h"

#include <QList>

namespace kavlento::testing {

// Every record of a history in file order, to compare with a list.
inline QList<store::HistoryRecord> recordsOf(const store::History& history) {
    QList<store::HistoryRecord> records;
    for (std::size_t i = 0; i < history.size(); ++i) {
        records.append(history.record(i));
    }
    return records;
}

} // namespace kavlento::testing
