#pragma once

#include <QString>

#include <optional>

namespace kavlento {

// State that the handlers of one run share.
struct SharedState {
    std::optional<int> sayac; // the last reported percentage; empty before the first
    QString dosyaAdi;         // the archive being restored
    QString archiveName;      // the file name of the archive being written
    QString jobMode;          // "ziping" during a backup, "unziping" during a restore
};

inline const QString kJobModeBackup = QStringLiteral("ziping");
inline const QString kJobModeRestore = QStringLiteral("unziping");

} // namespace kavlento
