#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace kavlento::store {

// The target folder, kept between runs in `yedekleme.dat` in the program folder:
// one quoted field in Windows-1254, ended by CR LF.
class TargetSetting {
public:
    explicit TargetSetting(const QString& programFolder);

    // The stored target, or nothing when the file is absent (a link in its
    // place counts as absent: nothing is read through one).
    std::optional<QString> load() const;

    // Replaces the file atomically: a crash leaves the old or the new setting.
    void save(const QString& target) const;

    const QString& path() const { return path_; }

    static QByteArray encode(const QString& target);
    // Only the first field counts; an empty file reads as no target (the empty text).
    static QString decode(QByteArrayView bytes);

private:
    QString path_;
    QString tempPath_;
};

} // namespace kavlento::store
