#include "store/DelimitedText.h"

namespace kavlento::store {

namespace {
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

QList<QByteArrayView> splitLines(QByteArrayView content) {
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < content.size()) {
        const char c = content[i];
        if (c == '\r' || c == '\n') {
            lines.append(content.sliced(start, i - start));
            i += (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < content.size()) {
        lines.append(content.sliced(start));
    }
    return lines;
}

QList<TextField> splitFields(QByteArrayView line) {
    QList<TextField> fields;
    if (line.isEmpty()) {
        return fields;
    }
    qsizetype i = 0;
    while (true) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        TextField field;
        if (i < line.size() && line[i] == '"') {
            const qsizetype close = line.indexOf('"', i + 1);
            if (close < 0) {
                field.bytes = line.sliced(i + 1).toByteArray();
                field.complete = false;
                fields.append(field);
                return fields;
            }
            field.bytes = line.sliced(i + 1, close - i - 1).toByteArray();
            i = close + 1;
            const qsizetype comma = line.indexOf(',', i);
            i = comma < 0 ? line.size() : comma;
        } else {
            const qsizetype comma = line.indexOf(',', i);
            qsizetype end = comma < 0 ? line.size() : comma;
            qsizetype last = end;
            while (last > i && isBlank(line[last - 1])) {
                --last;
            }
            field.bytes = line.sliced(i, last - i).toByteArray();
            i = end;
        }
        fields.append(field);
        if (i >= line.size()) {
            return fields;
        }
        ++i; // the comma
    }
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
