#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QVarLengthArray>

#include <functional>

namespace kavlento::store {

// The stored files are lines of comma-separated fields, each in double quotes,
// ended by CR LF, with nothing escaped.

struct TextField {
    QByteArray bytes;
    bool complete = true; // false for a quoted field whose closing quote is missing
};

// Lines end at CR LF, CR or LF; a last line without an ending is kept, empty
// lines are kept too (callers decide what they mean).
QList<QByteArrayView> splitLines(QByteArrayView content);
// The same lines, one call each with where the line starts in `content`.
void forEachLine(QByteArrayView content,
                 const std::function<void(qsizetype start, QByteArrayView line)>& visit);

// Where a field lies in its line.
struct FieldSpan {
    qsizetype start = 0;
    qsizetype length = 0;
    bool complete = true; // false for a quoted field whose closing quote is missing
};

// The first `most` fields of a line by the reading rule of splitFields().
QVarLengthArray<FieldSpan, 3> fieldSpans(QByteArrayView line, qsizetype most = -1);

// Blanks before a field are skipped. A field that starts with a quote runs to the
// next quote (anything between that quote and the next comma is ignored); any other
// field runs to the next comma, without its trailing blanks. A comma is always
// followed by a field, so "a," holds two fields. An empty line holds none.
QList<TextField> splitFields(QByteArrayView line);

// Each field in quotes, separated by commas, ended by CR LF.
QByteArray quotedLine(const QList<QByteArray>& fields);

} // namespace kavlento::store
