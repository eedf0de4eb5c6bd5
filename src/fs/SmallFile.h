#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

namespace kavlento::fs {

// Whole small files: the stored settings and history. Each operation either
// succeeds completely or throws a Failure that names the file and the reason.

// The existence test: a regular file at this path, or a link to one. A folder,
// a broken link or nothing counts as absent.
bool isRegularFile(const QString& path);

// The bytes of one of the program's own stored files, or nothing when no
// regular file is at this very path. A link in its place counts as absent,
// wherever it leads: nothing is read through one, so nothing of another file
// is ever copied into the program's own.
std::optional<QByteArray> readOwnFile(const QString& path);

// The same file read in pieces of at most `pieceSize` bytes, handed to `take`
// in order from the one descriptor, so that a file of any size costs one
// piece of memory. False, calling nothing, when readOwnFile() would find
// nothing.
bool readOwnFileInPieces(const QString& path, std::size_t pieceSize,
                         const std::function<void(QByteArrayView piece)>& take);

// Whether readOwnFile() would find a file, reading none of it.
bool isOwnFile(const QString& path);

// Appends `line` so that it starts on a line of its own, even when the file
// does not end with a line end, reading only the file's last byte. Creates the
// file when missing. A link in the file's place is replaced, not written
// through; a file that another name shares (a hard link) is copied, with the
// line, through `tempPath` to a file of this name's own.
void appendLine(const QString& path, const QString& tempPath, const QByteArray& line);

// Writes `bytes` to `tempPath`, flushes it to disk and renames it over
// `finalPath` in one step, so that a crash leaves either the old or the new
// content at `finalPath`, never a mixture or nothing.
void replaceFile(const QString& tempPath, const QString& finalPath, const QByteArray& bytes);

// Puts an empty file at `path`, through `tempPath`, replacing what is there:
// nothing another name shares (a link, a hard link) is emptied.
void writeEmptyFile(const QString& tempPath, const QString& path);

} // namespace kavlento::fs
