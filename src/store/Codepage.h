#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kavlento::store {

// The stored text files hold single-byte text in Windows-1254, so that files
// written by the host's own tools on Windows read back unchanged.

// Throws Failure(UnsupportedText) when a character has no byte in the code page.
QByteArray toWindows1254(const QString& text);

bool fitsWindows1254(const QString& text);

QString fromWindows1254(QByteArrayView bytes);

} // namespace kavlento::store
