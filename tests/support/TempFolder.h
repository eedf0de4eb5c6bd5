#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace kavlento::testing {

// A temporary folder with helpers to put files in and read them back.
class TempFolder {
public:
    TempFolder();
    // What Qt cannot remove (paths beyond the system's limit, names that are
    // not UTF-8) goes too.
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    QString path() const { return dir_.path(); }
    QString file(const QString& relative) const;

    void write(const QString& relative, const QByteArray& bytes) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;

private:
    QTemporaryDir dir_;
};

QByteArray readBytes(const QString& path);
void writeBytes(const QString& path, const QByteArray& bytes);

} // namespace kavlento::testing
