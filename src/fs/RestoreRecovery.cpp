#include "fs/RestoreRecovery.h"

#include "base/Failure.h"
#include "fs/Mounts.h"

namespace kavlento::fs {

namespace {

using journal::Move;
using restore::exists;

const QString kCannotUndo = QStringLiteral("Yarım kalan geri yükleme geri alınamadı");

// What to do where an undo cannot go on.
[[noreturn]] void undoBlocked(const Failure& failure, const OpenFolder& destination) {
    throw Failure(failure.code(),
                  failure.description() +
                      QStringLiteral(" Yarım kalan geri yükleme tamamlanamıyor; Kavlento her "
                                     "açılışta yeniden dener. Yukarıdaki yolun izinlerini "
                                     "düzeltin (salt okunur ya da değiştirilemez bir klasörse "
                                     "yöneticiniz açsın), yerine konan bir bağlantıyı kaldırıp "
                                     "klasörü geri taşıyın ya da diski takın, sonra Kavlento'yu "
                                     "yeniden başlatın. Eski dosyalar şurada bekliyor: %1")
                          .arg(fromSystemPath(destination.pathOf(restore::kWorkingFolder))));
}

} // namespace

std::vector<std::string> RestoreRecovery::recover(const std::string& destination,
                                                  StepWatch* watch) {
    return recoverIn(OpenFolder::open(destination, kCannotUndo, watch));
}

std::vector<std::string> RestoreRecovery::recoverIn(const OpenFolder& destination) {
    const std::optional<OpenFolder> main = destination.folder(restore::kWorkingFolder);
    if (!main) {
        return {}; // nothing of ours is there
    }
    switch (journal::standingOf(*main)) {
    case journal::Standing::Untrusted:
        return {main->pathOf({})};
    case journal::Standing::Foreign:
        return {}; // a user's folder of that name stays as it is
    case journal::Standing::Ours:
        break;
    }
    std::vector<std::string> mountFolders{std::string()};
    for (std::string& folder : journal::readAreaList(*main)) {
        mountFolders.push_back(std::move(folder));
    }
    std::vector<restore::Area> areas = restore::areasOf(mountFolders);
    // What another user could have put in a working folder on another mount
    // is neither moved into the destination nor removed.
    for (restore::Area& area : areas) {
        restore::openArea(destination, area);
        for (const std::optional<OpenFolder>* part : {&area.folder, &area.staged, &area.old}) {
            if (*part && !onlyOwnerMayChange((*part)->lookUp())) {
                return {(*part)->pathOf({})};
            }
        }
    }
    if (journal::exists(*main)) {
        for (const restore::Area& area : areas) {
            if (!area.folder) {
                // Its old files may be on a disk that is not there now.
                throw Failure(FailureCode::PathNotFound,
                              QStringLiteral("Yarım kalan bir geri yükleme geri alınamıyor: "
                                             "çalışma klasörüne ulaşılamıyor (disk takılı "
                                             "değil mi?). Disk takılıyken programı yeniden "
                                             "başlatın: %1")
                                  .arg(fromSystemPath(destination.pathOf(area.root))));
            }
        }
        HeldFolder walk(destination);
        try {
            undo(destination, areas, [&](std::string_view path) -> const OpenFolder& {
                return walk.requireHolding(path, kCannotUndo);
            });
        } catch (const journal::Damaged&) {
            throw; // nothing of it can be replayed: its text says what to do
        } catch (const Failure& failure) {
            undoBlocked(failure, destination);
        }
    }
    restore::removeWorkingFolders(destination, areas);
    return {};
}

// The journal goes only once everything it put back is on disk.
void RestoreRecovery::undo(const OpenFolder& destination, const std::vector<restore::Area>& areas,
                           const Holder& holder) {
    const OpenFolder& main = *areas.front().folder;
    rollBack(destination, areas, journal::read(main, areas.size()), holder);
    for (const restore::Area& area : areas) {
        area.folder->syncFileSystem();
    }
    journal::remove(main);
    main.sync();
}

void RestoreRecovery::rollBack(const OpenFolder& destination,
                               const std::vector<restore::Area>& areas,
                               const std::vector<Move>& moves, const Holder& holder) {
    // Every folder whose mode the restore may have changed is this user's:
    // it is opened up for the moves back, even where the restore had already
    // given it its closed mode again, and gets its own mode once they are done
    // (left as it is where that is the mode it has).
    const auto openedUp = [&](const Move& move) {
        const PathInfo info = destination.lookUp(move.path);
        return info.kind == PathKind::Folder && info.mode != move.mode;
    };
    for (const Move& move : moves) {
        if (move.kind == Move::Kind::OpenedUp ||
            (move.kind == Move::Kind::Folder && !move.existed)) {
            destination.makeFolderWritable(move.path, kCannotUndo);
        }
    }
    for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        if (it->kind == Move::Kind::OpenedUp) {
            if (openedUp(*it)) {
                destination.setFolderMode(it->path, it->mode, kCannotUndo);
            }
            continue;
        }
        if (it->kind == Move::Kind::Folder) {
            if (!it->existed) {
                destination.removeEmptyFolder(it->path); // only if nothing else came to live in it
            }
            continue;
        }
        const restore::Area& area = areas.at(it->area);
        const std::string_view name = lastName(it->path);
        if (area.old && exists(*area.old, it->path)) {
            area.old->rename(it->path, holder(it->path), name, kCannotUndo);
        } else if (it->kind == Move::Kind::File && !it->existed &&
                   !(area.staged && exists(*area.staged, it->path))) {
            const OpenFolder& folder = holder(it->path);
            if (exists(folder, name)) {
                folder.removeFile(name, kCannotUndo);
            }
        }
    }
}

} // namespace kavlento::fs
