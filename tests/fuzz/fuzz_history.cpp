// The reader of the backup history, on any bytes: every record it accepts is
// written back and read again unchanged.
#include "store/HistoryFile.h"

#include <cstddef>
#include <cstdint>

using kavlento::store::History;
using kavlento::store::HistoryFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const History history = History::parse(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    QByteArray rewritten;
    for (std::size_t i = 0; i < history.size(); ++i) {
        rewritten += HistoryFile::format(history.record(i));
    }
    // Fields never hold a quote or a line end, so the rewrite reads back whole.
    if (History::parse(rewritten).size() != history.size()) {
        __builtin_trap();
    }
    return 0;
}
