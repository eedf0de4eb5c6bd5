#include "store/History.h"

#include "base/Failure.h"
#include "store/Codepage.h"
#include "store/DelimitedText.h"

#include <limits>

namespace kavlento::store {

History History::parse(QByteArray bytes) {
    if (static_cast<std::uint64_t>(bytes.size()) > std::numeric_limits<std::uint32_t>::max()) {
        throw Failure(FailureCode::OutOfMemory,
                      QStringLiteral("Yedekleme geçmişi (yedekleme.lst) okunamayacak kadar büyük"));
    }
    History history;
    history.bytes_ = std::move(bytes);
    const QByteArrayView content(history.bytes_);
    std::size_t number = 0;
    forEachLine(content, [&](qsizetype lineStart, QByteArrayView line) {
        ++number;
        const QList<FieldSpan> fields = fieldSpans(line, 3);
        if (fields.size() < 3 || !fields[0].complete || !fields[1].complete ||
            !fields[2].complete) {
            if (!line.trimmed().isEmpty()) {
                history.unread_.push_back({number,
                                           {static_cast<std::uint32_t>(lineStart),
                                            static_cast<std::uint32_t>(line.size())}});
            }
            return;
        }
        std::array<Span, 3> record;
        for (int i = 0; i < 3; ++i) {
            record[i] = {static_cast<std::uint32_t>(lineStart + fields[i].start),
                         static_cast<std::uint32_t>(fields[i].length)};
        }
        history.records_.push_back(record);
    });
    return history;
}

std::vector<History::UnreadLine> History::unreadLines() const {
    std::vector<UnreadLine> lines;
    for (const auto& [number, span] : unread_) {
        lines.push_back(
            {number, fromWindows1254(QByteArrayView(bytes_).sliced(span.start, span.length))});
    }
    return lines;
}

QString History::field(std::size_t record, int column) const {
    const Span span = records_.at(record).at(static_cast<std::size_t>(column));
    return fromWindows1254(QByteArrayView(bytes_).sliced(span.start, span.length));
}

HistoryRecord History::record(std::size_t index) const {
    return {field(index, 0), field(index, 1), archivePath(index)};
}

} // namespace kavlento::store
