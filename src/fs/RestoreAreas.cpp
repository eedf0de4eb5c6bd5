#include "fs/RestoreAreas.h"

namespace kavlento::fs::restore {

std::vector<Area> areasOf(const std::vector<std::string>& mountFolders) {
    std::vector<Area> areas;
    for (const std::string& folder : mountFolders) {
        Area area;
        area.mountFolder = folder;
        area.root = folder.empty() ? std::string(kWorkingFolder) : joinPath(folder, kWorkingFolder);
        areas.push_back(std::move(area));
    }
    return areas;
}

void openArea(const OpenFolder& destination, Area& area) {
    area.folder = destination.folder(area.root);
    area.staged = destination.folder(joinPath(area.root, kStaged));
    area.old = destination.folder(joinPath(area.root, kOld));
}

void removeWorkingFolders(const OpenFolder& destination, std::vector<Area>& areas) noexcept {
    for (auto it = areas.rbegin(); it != areas.rend(); ++it) {
        // Closed first: Windows takes a folder's name away only when no one
        // holds it open, and a folder whose inner ones are still there is
        // not empty.
        it->folder.reset();
        it->staged.reset();
        it->old.reset();
        try {
            destination.removeTree(it->root);
        } catch (const Failure&) {
        }
    }
}

bool exists(const OpenFolder& folder, std::string_view path) {
    return folder.lookUp(path).kind != PathKind::Missing;
}

void refuse(FailureCode code, const QString& why, const std::string& path) {
    throw Failure(code,
                  QStringLiteral("Geri yükleme yapılamadı: %1; hiçbir dosya değiştirilmedi: %2")
                      .arg(why, fromSystemPath(path)));
}

} // namespace kavlento::fs::restore
