#include "archive/ArchiveCommand.h"

#include "base/Failure.h"

#include <QDir>
#include <QList>

#include <optional>

namespace kavlento::archive {

namespace {

struct Item {
    QString key;
    std::optional<QString> value;
};

[[noreturn]] void refuse(const QString& reason) {
    throw Failure(FailureCode::InvalidCommand,
                  QStringLiteral("Arşiv komutu geçersiz: %1").arg(reason));
}

QList<Item> splitItems(const QString& command) {
    QList<Item> items;
    qsizetype i = 0;
    while (i < command.size()) {
        if (command[i] != QLatin1Char('<')) {
            refuse(QStringLiteral("%1. karakterde '<' bekleniyordu").arg(i + 1));
        }
        const qsizetype close = command.indexOf(QLatin1Char('>'), i + 1);
        if (close < 0) {
            refuse(QStringLiteral("'>' ile kapanmayan öğe"));
        }
        const QString body = command.mid(i + 1, close - i - 1);
        const qsizetype equals = body.indexOf(QLatin1Char('='));
        Item item;
        item.key = equals < 0 ? body : body.left(equals);
        if (equals >= 0) {
            item.value = body.mid(equals + 1);
        }
        if (item.key.isEmpty() || item.key.contains(QLatin1Char('<'))) {
            refuse(QStringLiteral("adı olmayan ya da bozuk öğe"));
        }
        items.append(item);
        i = close + 1;
    }
    return items;
}

enum class Kind { Switch, Value };

// The items of one command, checked against the keys that job accepts.
class Items {
public:
    Items(const QString& command, std::initializer_list<std::pair<const char*, Kind>> keys) {
        for (const auto& [key, kind] : keys) {
            allowed_.append({QString::fromLatin1(key), kind});
        }
        for (const Item& item : splitItems(command)) {
            const auto* known = find(item.key);
            if (known == nullptr) {
                refuse(QStringLiteral("bilinmeyen anahtar '%1'").arg(item.key));
            }
            if ((known->second == Kind::Value) != item.value.has_value()) {
                refuse(known->second == Kind::Value
                           ? QStringLiteral("'%1' bir değer ister").arg(item.key)
                           : QStringLiteral("'%1' değer almaz").arg(item.key));
            }
            for (const Item& seen : items_) {
                if (seen.key == item.key) {
                    refuse(QStringLiteral("'%1' birden çok kez verilmiş").arg(item.key));
                }
            }
            items_.append(item);
        }
    }

    bool has(const char* key) const { return get(key) != nullptr; }

    std::optional<QString> value(const char* key) const {
        const Item* item = get(key);
        return item == nullptr ? std::nullopt : item->value;
    }

    QString required(const char* key) const {
        const std::optional<QString> v = value(key);
        if (!v || v->isEmpty()) {
            refuse(QStringLiteral("'%1' eksik").arg(QLatin1String(key)));
        }
        return *v;
    }

    void expectIfPresent(const char* key, const QString& only) const {
        const std::optional<QString> v = value(key);
        if (v && *v != only) {
            refuse(QStringLiteral("'%1' yalnızca '%2' olabilir").arg(QLatin1String(key), only));
        }
    }

private:
    const std::pair<QString, Kind>* find(const QString& key) const {
        for (const auto& entry : allowed_) {
            if (entry.first == key) {
                return &entry;
            }
        }
        return nullptr;
    }

    const Item* get(const char* key) const {
        for (const Item& item : items_) {
            if (item.key == QLatin1String(key)) {
                return &item;
            }
        }
        return nullptr;
    }

    QList<std::pair<QString, Kind>> allowed_;
    QList<Item> items_;
};

const QString kAllFiles = QStringLiteral("*.*");

QString withoutFinalSeparator(const QString& folder) {
    const bool endsWithSeparator =
        folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator());
    return endsWithSeparator && folder.size() > 1 ? folder.chopped(1) : folder;
}

QString item(const char* key, const QString& value) {
    if (!fitsCommandValue(value)) {
        throw Failure(
            FailureCode::InvalidCommand,
            QStringLiteral("Bu yol arşiv komutuna yazılamaz ('>' içeriyor): %1").arg(value));
    }
    return QStringLiteral("<%1=%2>").arg(QLatin1String(key), value);
}

} // namespace

bool fitsCommandValue(const QString& value) {
    return !value.contains(QLatin1Char('>'));
}

CompressCommand parseCompressCommand(const QString& command) {
    const Items items(command, {{"password", Kind::Value},
                                {"recurse-on-subfolders", Kind::Switch},
                                {"include-system-and-hidden-files", Kind::Switch},
                                {"zip-compression-mode", Kind::Value},
                                {"compression-level", Kind::Value},
                                {"directory-with-the-files-to-compress", Kind::Value},
                                {"destination-directory", Kind::Value},
                                {"destination-zipfile", Kind::Value},
                                {"files-selection", Kind::Value}});
    CompressCommand result;
    result.password = items.required("password");
    result.recurse = items.has("recurse-on-subfolders");
    result.includeHidden = items.has("include-system-and-hidden-files");
    // The host's command asks to add to an archive of the same name; a backup
    // is always written as a new archive all the same (merging two snapshots
    // would lose the first one's versions).
    items.expectIfPresent("zip-compression-mode", QStringLiteral("add-to-zipfile"));
    if (const auto level = items.value("compression-level")) {
        bool ok = false;
        result.level = level->toInt(&ok);
        if (!ok || level->size() != 1 || result.level < 0 || result.level > 9) {
            refuse(QStringLiteral("sıkıştırma düzeyi 0 ile 9 arasında olmalı"));
        }
    }
    result.sourceFolder = items.required("directory-with-the-files-to-compress");
    result.destinationFolder = items.required("destination-directory");
    result.archiveFileName = items.required("destination-zipfile");
    if (result.archiveFileName.contains(QLatin1Char('/')) ||
        result.archiveFileName.contains(QDir::separator()) ||
        result.archiveFileName == QLatin1String(".") ||
        result.archiveFileName == QLatin1String("..")) {
        refuse(QStringLiteral("arşiv adı bir klasör içeremez"));
    }
    items.expectIfPresent("files-selection", kAllFiles);
    return result;
}

ExtractCommand parseExtractCommand(const QString& command) {
    const Items items(command, {{"zipfile", Kind::Value},
                                {"files-selection", Kind::Value},
                                {"password", Kind::Value},
                                {"destination-path", Kind::Value},
                                {"file-extraction-mode", Kind::Value}});
    ExtractCommand result;
    result.archivePath = items.required("zipfile");
    result.password = items.value("password").value_or(QString());
    result.destinationFolder = withoutFinalSeparator(items.required("destination-path"));
    items.expectIfPresent("files-selection", kAllFiles);
    items.expectIfPresent("file-extraction-mode", QStringLiteral("overwrite"));
    if (!items.has("file-extraction-mode")) {
        refuse(QStringLiteral("'file-extraction-mode' eksik"));
    }
    return result;
}

QString buildCompressCommand(const QString& sourceFolder, const QString& destinationFolder,
                             const QString& archiveFileName) {
    return item("password", kArchivePassword) +
           QStringLiteral("<recurse-on-subfolders><include-system-and-hidden-files>"
                          "<zip-compression-mode=add-to-zipfile><compression-level=6>") +
           item("directory-with-the-files-to-compress", sourceFolder) +
           item("destination-directory", destinationFolder) +
           item("destination-zipfile", archiveFileName) + item("files-selection", kAllFiles);
}

QString buildExtractCommand(const QString& archivePath, const QString& destinationFolder) {
    return item("zipfile", archivePath) + item("files-selection", kAllFiles) +
           item("password", kArchivePassword) +
           item("destination-path", destinationFolder + QDir::separator()) +
           QStringLiteral("<file-extraction-mode=overwrite>");
}

} // namespace kavlento::archive
