#include "store/DelimitedText.h"

namespace kavlento::store {

namespace {
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

void forEachLine(QByteArrayView content,
                 const std::function<void(qsizetype start, QByteArrayView line)>& visit) {
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < content.size()) {
        const char c = content[i];
        if (c == '\r' || c == '\n') {
            visit(start, content.sliced(start, i - start));
            i += (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < content.size()) {
        visit(start, content.sliced(start));
    }
}

QList<QByteArrayView> splitLines(QByteArrayView content) {
    QList<QByteArrayView> lines;
    forEachLine(content, [&](qsizetype, QByteArrayView line) { lines.append(line); });
    return lines;
}

QVarLengthArray<FieldSpan, 3> fieldSpans(QByteArrayView line, qsizetype most) {
    QVarLengthArray<FieldSpan, 3> fields;
    if (line.isEmpty()) {
        return fields;
    }
    qsizetype i = 0;
    while (most < 0 || fields.size() < most) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        FieldSpan field;
        if (i < line.size() && line[i] == '"') {
            const qsizetype close = line.indexOf('"', i + 1);
            if (close < 0) {
                fields.append({i + 1, line.size() - i - 1, false});
                return fields;
            }
            field = {i + 1, close - i - 1, true};
            i = close + 1;
            const qsizetype comma = line.indexOf(',', i);
            i = comma < 0 ? line.size() : comma;
        } else {
            const qsizetype comma = line.indexOf(',', i);
            const qsizetype end = comma < 0 ? line.size() : comma;
            qsizetype last = end;
            while (last > i && isBlank(line[last - 1])) {
                --last;
            }
            field = {i, last - i, true};
            i = end;
        }
        fields.append(field);
        if (i >= line.size()) {
            return fields;
        }
        ++i; // the comma
    }
    return fields;
}

QList<TextField> splitFields(QByteArrayView line) {
    QList<TextField> fields;
    for (const FieldSpan& span : fieldSpans(line)) {
        fields.append({line.sliced(span.start, span.length).toByteArray(), span.complete});
    }
    return fields;
}

QByteArray quotedLine(const QList<QByteArray>& fields) {
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += '"';
        line += fields[i];
        line += '"';
    }
    line += "\r\n";
    return line;
}

} // namespace kavlento::store
