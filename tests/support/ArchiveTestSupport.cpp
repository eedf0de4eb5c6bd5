#include "support/ArchiveTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <zip.h>

#include "fs/File.h"
#include "fs/OpenFolder.h"

#include <algorithm>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kavlento::testing {

namespace {
std::string native(const QString& path) {
    return fs::toSystemPath(path);
}

QByteArray contentOf(const std::string& path) {
    const std::optional<fs::UniqueFd> file = fs::openForReading(path);
    if (!file) {
        throw std::runtime_error("read " + path);
    }
    QByteArray content;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = fs::readAt(*file, static_cast<std::uint64_t>(content.size()), buffer, sizeof buffer,
                           path)) > 0) {
        content.append(buffer, static_cast<qsizetype>(n));
    }
    return content;
}

FileState stateOf(const std::string& path, bool exactTimes) {
    const fs::PathInfo info = fs::lookUp(path);
    FileState entry;
    entry.permissions = info.mode;
    entry.modified = info.modified.seconds;
    entry.modifiedFraction = exactTimes ? info.modified.nanoseconds / 100 : 0;
    if (info.kind == fs::PathKind::Folder) {
        entry.type = 'd';
        entry.modified = 0; // a folder's time changes as its contents arrive
        entry.modifiedFraction = 0;
    } else if (info.kind == fs::PathKind::Link) {
        entry.type = 'l';
        entry.permissions = 0;
        entry.modified = 0;
        entry.modifiedFraction = 0;
        entry.content = QByteArray::fromStdString(
            fs::readLinkTarget(path, QStringLiteral("bağlantı okunamadı")).value_or(""));
    } else if (info.kind == fs::PathKind::File) {
        entry.content = contentOf(path);
    } else {
        entry.type = 'o';
    }
    return entry;
}

// Adds what lies below `folder` (relative to the snapshot's root) to `tree`;
// links are not followed.
void addBelow(const std::string& root, const std::string& folder,
              const std::vector<std::string>& skipped, bool exactTimes, Tree& tree) {
    const std::string path = folder.empty() ? root : fs::joinPath(root, folder);
    for (const std::string& name : fs::listFolder(path, QStringLiteral("klasör okunamadı"))) {
        if (folder.empty() && std::find(skipped.begin(), skipped.end(), name) != skipped.end()) {
            continue;
        }
        const std::string relative = folder.empty() ? name : folder + '/' + name;
        const FileState entry = stateOf(fs::joinPath(root, relative), exactTimes);
        tree[relative] = entry;
        if (entry.type == 'd') {
            addBelow(root, relative, skipped, exactTimes, tree);
        }
    }
}

// The permission bits where the file system keeps them (FAT and exFAT take
// none, and keep what they give), and, unless 0, the modification time.
void setModeAndTime(const QString& path, std::uint32_t mode, std::time_t modified) {
    const struct {
        std::uint32_t bit;
        QFileDevice::Permissions permission;
    } bits[] = {
        {0400, QFileDevice::ReadOwner | QFileDevice::ReadUser},
        {0200, QFileDevice::WriteOwner | QFileDevice::WriteUser},
        {0100, QFileDevice::ExeOwner | QFileDevice::ExeUser},
        {040, QFileDevice::ReadGroup},
        {020, QFileDevice::WriteGroup},
        {010, QFileDevice::ExeGroup},
        {04, QFileDevice::ReadOther},
        {02, QFileDevice::WriteOther},
        {01, QFileDevice::ExeOther},
    };
    // The time first: a file that may not be written is not opened to set it.
    if (modified != 0) {
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) ||
            !file.setFileTime(QDateTime::fromSecsSinceEpoch(modified),
                              QFileDevice::FileModificationTime)) {
            throw std::runtime_error("set the time of " + native(path));
        }
    }
    QFileDevice::Permissions permissions;
    for (const auto& b : bits) {
        if (mode & b.bit) {
            permissions |= b.permission;
        }
    }
    QFile::setPermissions(path, permissions);
}

// The mode of the folder at `relative` below `root`, its time kept.
void setFolderMode(const QString& root, const std::string& relative, std::uint32_t mode) {
    const QString action = QStringLiteral("klasör ayarlanamadı");
    const fs::OpenFolder top = fs::OpenFolder::open(native(root), action);
    top.setFolderModeAndTime(relative, mode, top.lookUp(relative).modified, action);
}
} // namespace

Tree snapshot(const QString& root, const QStringList& skip, bool exactTimes) {
    std::vector<std::string> skipped;
    for (const QString& name : skip) {
        skipped.push_back(native(name));
    }
    Tree tree;
    addBelow(native(root), std::string(), skipped, exactTimes, tree);
    return tree;
}

// What the file system here keeps of a mode: Windows keeps only whether a
// file may be written (its read-only attribute).
FileState asKept(FileState state) {
#ifdef _WIN32
    state.permissions = state.type == 'f' && (state.permissions & 0222) == 0 ? 0444 : 0;
#endif
    return state;
}

std::string firstDifference(const Tree& expected, const Tree& actual) {
    for (const auto& [path, entry] : expected) {
        const auto found = actual.find(path);
        if (found == actual.end()) {
            return "missing: " + path;
        }
        if (!(asKept(found->second) == asKept(entry))) {
            return "differs: " + path + " (type " + found->second.type + " vs " + entry.type +
                   ", mode " + std::to_string(found->second.permissions) + " vs " +
                   std::to_string(entry.permissions) + ", time " +
                   std::to_string(found->second.modified) + " vs " +
                   std::to_string(entry.modified) + ", size " +
                   std::to_string(found->second.content.size()) + " vs " +
                   std::to_string(entry.content.size()) + ")";
        }
    }
    for (const auto& [path, entry] : actual) {
        if (expected.count(path) == 0) {
            return "unexpected: " + path;
        }
    }
    return std::string();
}

QByteArray pseudoText(qsizetype size, std::uint32_t seed) {
    static const char* const words[] = {"kayıt ",  "müşteri ", "tutar ", "12.450,00 ",
                                        "fatura ", "tarih ",   "2026 ",  "stok ",
                                        "\n",      "adres ",   "Ş ",     "ğ "};
    QByteArray text;
    text.reserve(size + 16);
    std::uint32_t x = seed | 1;
    while (text.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        text.append(words[x % 12]);
    }
    text.truncate(size);
    return text;
}

QByteArray incompressibleBytes(qsizetype size, std::uint32_t seed) {
    QByteArray bytes(size, '\0');
    std::uint32_t x = seed | 1;
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes, std::uint32_t permissions,
               std::time_t modified) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        throw std::runtime_error("write " + native(path));
    }
    file.close();
    setModeAndTime(path, permissions, modified);
}

void makeLink(const QString& path, const QString& target) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString action = QStringLiteral("bağlantı yapılamadı");
    const QFileInfo link(path);
    fs::OpenFolder::open(native(link.absolutePath()), action)
        .makeLink(native(target), native(link.fileName()), action);
}

void makeSampleTree(const QString& root) {
    const std::time_t old = 1262304000; // 1 January 2010
    writeFile(root + "/veri.db", QByteArray("KAYIT;").repeated(700000), 0600, old + 11);
    writeFile(root + "/resimler/foto.jpg", incompressibleBytes(1500000, 2463534242u), 0644,
              old + 22); // several pieces
    writeFile(root + "/.gizli", "gizli ayar\n", 0640, old + 33);
    writeFile(root + "/.gizli klasör/ayar.ini", "[a]\nb=1\n", 0644, old + 44);
    writeFile(root + "/Şirket Raporları/Ğİı çalışma.txt", "rapor içeriği\n", 0644, old + 55);
    writeFile(root + QStringLiteral("/日本語/データ.txt"), "non-Latin\n", 0644, old + 66);
    writeFile(root + "/boş dosya", QByteArray(), 0644, old + 77);
    writeFile(root + "/bin/calistir.sh", "#!/bin/sh\necho merhaba\n", 0755, old + 88);
    QDir().mkpath(root + "/boş klasör/içinde boş");
    if (linksCanBeMadeIn(root)) {
        makeLink(root + "/son-rapor", "Şirket Raporları/Ğİı çalışma.txt");
    }
}

// Windows makes links only with developer mode or as the administrator.
bool linksCanBeMadeIn(const QString& folder) {
    return fs::OpenFolder::open(native(folder), QStringLiteral("klasör açılamadı")).canMakeLinks();
}

void letOthersWrite(const QString& path) {
    grantWriteToOthers(path);
    if ((fs::lookUp(native(path)).mode & 022) == 0) {
        throw std::runtime_error("others may write, but the system does not say so: " +
                                 native(path));
    }
}

bool runningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

ToolResult runTool(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!folder.isEmpty()) {
        process.setWorkingDirectory(folder);
    }
    process.start(program, arguments);
    ToolResult result;
    if (!process.waitForFinished(120000)) {
        result.output = QStringLiteral("did not finish: ") + process.errorString();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

void writeRawZip(const QString& path, const std::vector<RawEntry>& entries,
                 RawEncryption encryption, const char* password) {
    int error = 0;
    zip_t* zip = zip_open(native(path).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (zip == nullptr) {
        throw std::runtime_error("zip_open");
    }
    for (const RawEntry& entry : entries) {
        zip_int64_t index = -1;
        if (entry.folder) {
            index = zip_dir_add(zip, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
        } else {
            // libzip reads the buffer only at zip_close, while the entries are still alive.
            zip_source_t* source = zip_source_buffer(
                zip, entry.content.constData(), static_cast<zip_uint64_t>(entry.content.size()), 0);
            index = zip_file_add(zip, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
            if (index < 0) {
                zip_source_free(source);
            }
            if (index >= 0 && encryption != RawEncryption::None) {
                zip_file_set_encryption(zip, static_cast<zip_uint64_t>(index),
                                        encryption == RawEncryption::Aes256 ? ZIP_EM_AES_256
                                                                            : ZIP_EM_TRAD_PKWARE,
                                        password);
            }
        }
        if (index < 0) {
            throw std::runtime_error("zip add " + entry.name);
        }
        // A DOS entry as Windows archivers write it: made on DOS, attributes only.
        const bool dos = entry.unixMode == 0;
        zip_file_set_external_attributes(zip, static_cast<zip_uint64_t>(index), 0,
                                         dos ? ZIP_OPSYS_DOS : ZIP_OPSYS_UNIX,
                                         dos ? (entry.folder ? 0x10u : 0u) : entry.unixMode << 16);
    }
    if (zip_close(zip) != 0) {
        throw std::runtime_error(std::string("zip_close: ") + zip_strerror(zip));
    }
}

std::map<std::string, QByteArray> readWithLibzip(const QString& archive, const char* password) {
    int error = 0;
    zip_t* zip = zip_open(native(archive).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (zip == nullptr) {
        throw std::runtime_error("libzip cannot open the archive: " + std::to_string(error));
    }
    std::map<std::string, QByteArray> files;
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const std::string name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
        if (name.back() == '/') {
            continue;
        }
        zip_file_t* file =
            zip_fopen_index_encrypted(zip, static_cast<zip_uint64_t>(i), 0, password);
        if (file == nullptr) {
            throw std::runtime_error("libzip cannot open " + name + ": " + zip_strerror(zip));
        }
        QByteArray content;
        char buffer[65536];
        zip_int64_t n = 0;
        while ((n = zip_fread(file, buffer, sizeof buffer)) > 0) {
            content.append(buffer, static_cast<int>(n));
        }
        if (n < 0) {
            throw std::runtime_error("libzip cannot read " + name + ": " + zip_file_strerror(file));
        }
        zip_fclose(file);
        files[name] = content;
    }
    zip_discard(zip);
    return files;
}

QByteArray treeText(const Tree& tree) {
    QByteArray text;
    for (const auto& [path, entry] : tree) {
        text += QByteArray(1, entry.type) + ' ' + QByteArray::number(entry.permissions, 8) + ' ' +
                QByteArray::number(static_cast<qlonglong>(entry.modified)) + ' ' +
                (entry.content.isEmpty() ? QByteArray("-") : entry.content.toHex()) + ' ' +
                QByteArray::fromStdString(path) + '\n';
    }
    return text;
}

Tree treeFromText(const QByteArray& text) {
    Tree tree;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5) {
            continue;
        }
        FileState entry;
        entry.type = fields[0].at(0);
        entry.permissions = fields[1].toUInt(nullptr, 8);
        entry.modified = fields[2].toLongLong();
        entry.content = fields[3] == "-" ? QByteArray() : QByteArray::fromHex(fields[3]);
        const qsizetype pathAt =
            fields[0].size() + fields[1].size() + fields[2].size() + fields[3].size() + 4;
        tree[line.mid(pathAt).toStdString()] = entry;
    }
    return tree;
}

void plantTree(const QString& root, const Tree& tree) {
    for (const auto& [path, entry] : tree) {
        const QString at = root + "/" + QString::fromStdString(path);
        if (entry.type == 'd') {
            QDir().mkpath(at);
        } else if (entry.type == 'l') {
            QDir().mkpath(QFileInfo(at).path());
            makeLink(at, QString::fromUtf8(entry.content));
        } else {
            writeFile(at, entry.content, entry.permissions, entry.modified);
        }
    }
    for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
        if (it->second.type == 'd') {
            setFolderMode(root, it->first, it->second.permissions);
        }
    }
}

} // namespace kavlento::testing
