#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace kavlento::app {

// One running instance per program folder. The lock lives in the user's runtime
// folder, not in the program folder, which every backup packs whole. A lock left
// by a crashed run is taken over.
class SingleInstance {
public:
    explicit SingleInstance(const QString& programFolder);
    ~SingleInstance();

    // True when this process now serves the folder, false when another one does.
    // Throws a Failure when the lock cannot be made for any other reason.
    bool acquire();

    static QString lockPathFor(const QString& programFolder);
    // The user's runtime folder; without one (cron, a system timer), a private
    // folder of this user's in the temporary folder, made when missing.
    static QString runtimeFolder();

private:
    std::unique_ptr<QLockFile> lock_;
};

} // namespace kavlento::app
