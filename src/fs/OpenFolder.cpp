#include "fs/OpenFolder.h"

#include <cerrno>

namespace kavlento::fs {

void OpenFolder::tell(Step step, std::string_view relative, const OpenFolder* into,
                      std::string_view to) const {
    if (watch_ != nullptr) {
        watch_->before(
            {step, pathOf(relative), into != nullptr ? into->pathOf(to) : std::string()});
    }
}

OpenFolder::Parent OpenFolder::requireParent(std::string_view relative,
                                             const QString& action) const {
    std::optional<Parent> parent = parentOf(relative);
    if (!parent) {
        throwSystemError(ENOENT, action, pathOf(relative));
    }
    return std::move(*parent);
}

void OpenFolder::setFolderMode(std::string_view relative, std::uint32_t mode,
                               const QString& action) const {
    changeFolder(relative, mode, std::nullopt, action);
}

void OpenFolder::setFolderModeAndTime(std::string_view relative, std::uint32_t mode,
                                      Timestamp modified, const QString& action) const {
    changeFolder(relative, mode, modified, action);
}

void OpenFolder::syncFile(const UniqueFd& file, std::string_view relative) const {
    tell(Step::SyncFile, relative);
    fs::syncFile(file, pathOf(relative));
}

std::string OpenFolder::pathOf(std::string_view relative) const {
    return relative.empty() ? path_ : joinPath(path_, relative);
}

const OpenFolder* HeldFolder::holding(std::string_view path) {
    const std::string_view parent = parentPath(path);
    if (parent.empty()) {
        return &root_;
    }
    if (!held_ || parent != parent_) {
        parent_ = parent;
        held_ = root_.folder(parent);
    }
    return held_ ? &*held_ : nullptr;
}

const OpenFolder& HeldFolder::requireHolding(std::string_view path, const QString& action) {
    const OpenFolder* folder = holding(path);
    if (folder == nullptr) {
        throwSystemError(ENOENT, action, root_.pathOf(path));
    }
    return *folder;
}

std::string_view parentPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view lastName(std::string_view path) {
    return path.substr(path.rfind('/') + 1);
}

} // namespace kavlento::fs
