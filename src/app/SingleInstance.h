#pragma once

#include "fs/FolderLock.h"

#include <QString>

#include <optional>

namespace kavlento::app {

// One running instance per program folder, for every user and session that
// can reach the folder: the lock is on the folder itself.
class SingleInstance {
public:
    explicit SingleInstance(QString programFolder) : folder_(std::move(programFolder)) {}

    // True when this process now serves the folder, false when another one does.
    // Throws a Failure when the lock cannot be taken for any other reason.
    bool acquire();

private:
    QString folder_;
    std::optional<fs::FolderLock> lock_;
};

} // namespace kavlento::app
