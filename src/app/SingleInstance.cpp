#include "app/SingleInstance.h"

namespace kavlento::app {

bool SingleInstance::acquire() {
    lock_ = fs::FolderLock::tryLock(fs::toSystemPath(folder_));
    return lock_.has_value();
}

} // namespace kavlento::app
