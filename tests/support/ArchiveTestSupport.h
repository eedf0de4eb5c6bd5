#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace kavlento::testing {

// What a folder holds, for comparing two folders entry by entry.
struct FileState {
    char type = 'f'; // 'f' file, 'd' folder, 'l' link
    std::uint32_t permissions = 0;
    std::int64_t modified = 0;          // seconds
    std::uint32_t modifiedFraction = 0; // 100 ns steps, when asked for
    QByteArray content;                 // file bytes, or a link's target
    bool operator==(const FileState& o) const {
        return type == o.type && permissions == o.permissions && modified == o.modified &&
               modifiedFraction == o.modifiedFraction && content == o.content;
    }
};
using Tree = std::map<std::string, FileState>;

// `skip` lists top-level names left out of the picture. Paths are the names'
// bytes as stored; times are in seconds, or to 100 ns (as archives keep them)
// when `exactTimes`.
Tree snapshot(const QString& root, const QStringList& skip = {}, bool exactTimes = false);
// Lists the first difference, or an empty text when the trees are equal.
std::string firstDifference(const Tree& expected, const Tree& actual);

// A tree as a text file kept beside pinned archives: a line per entry, "kind
// mode time content path", the mode in octal, the time in seconds, the
// content (a file's bytes or a link's target) in hexadecimal, "-" for none.
QByteArray treeText(const Tree& tree);
Tree treeFromText(const QByteArray& text);
// Makes the entries of `tree` below `root`, folders last so their modes hold.
void plantTree(const QString& root, const Tree& tree);

// A folder like a host application's: hidden files and folders, empty folders,
// Turkish and non-Latin names, a link (where this user may make one), a file
// spanning several compression pieces, various permissions and old
// modification times.
void makeSampleTree(const QString& root);

// Text-like bytes that compress, but not to nothing: words from a small
// vocabulary in a deterministic pseudo-random order.
QByteArray pseudoText(qsizetype size, std::uint32_t seed);
// Bytes that do not compress at all, like a picture's, from a seed.
QByteArray incompressibleBytes(qsizetype size, std::uint32_t seed);

void writeFile(const QString& path, const QByteArray& bytes, std::uint32_t permissions = 0644,
               std::time_t modified = 0);
void makeLink(const QString& path, const QString& target);
bool linksCanBeMadeIn(const QString& folder);
// The Windows build running under Wine, whose file systems are Linux's.
bool runningUnderWine();
// Lets other users write to `path` (a file or a folder): its mode's group and
// other write bits, or on Windows an entry for Everyone in its access list.
void letOthersWrite(const QString& path);
// Its system's half (ArchiveTestSupport_posix.cpp, _windows.cpp).
void grantWriteToOthers(const QString& path);
// Linux only (ArchiveTestSupport_posix.cpp): a socket bound at `path`, as a
// running program leaves one, which the caller closes; a named pipe.
int listenAt(const QString& path);
void makePipe(const QString& path);

struct ToolResult {
    int exitCode = -1;
    QString output;
};
// Runs an outside program (7zz, zip, unzip) in `folder`.
ToolResult runTool(const QString& program, const QStringList& arguments,
                   const QString& folder = QString());

// Hand-made archives for hostile and foreign cases, written with libzip.
struct RawEntry {
    std::string name;
    QByteArray content;
    std::uint32_t unixMode = 0100644; // type and permissions; 0 for a DOS entry
    bool folder = false;
};
enum class RawEncryption { None, Traditional, Aes256 };
void writeRawZip(const QString& path, const std::vector<RawEntry>& entries,
                 RawEncryption encryption = RawEncryption::None,
                 const char* password = "6150937284");

// Reads every entry through libzip alone (its own AES code), as an independent
// reader would; returns path -> content for files.
std::map<std::string, QByteArray> readWithLibzip(const QString& archive, const char* password);

} // namespace kavlento::testing
