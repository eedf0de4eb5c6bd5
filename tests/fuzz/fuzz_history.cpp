// The reader of the backup history, on any bytes: every record it accepts is
// written back and read again unchanged.
#include "store/HistoryFile.h"

#include <cstddef>
#include <cstdint>

using kavlento::store::History;
using kavlento::store::HistoryFile;
using kavlento::store::HistoryRecord;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QList<HistoryRecord> records =
        History::parse(
            QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)))
            .toList();
    QByteArray rewritten;
    for (const HistoryRecord& record : records) {
        rewritten += HistoryFile::format(record);
    }
    // Fields never hold a quote or a line end, so the rewrite reads back whole.
    const QList<HistoryRecord> again = History::parse(rewritten).toList();
    if (again.size() != records.size()) {
        __builtin_trap();
    }
    return 0;
}
