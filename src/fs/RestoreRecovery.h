#pragma once

#include "fs/OpenFolder.h"
#include "fs/RestoreAreas.h"
#include "fs/RestoreJournal.h"
#include "fs/StepWatch.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::fs {

// Undoing a restore by its journal: at the next start after a crash, or at
// once when one of its moves fails.
class RestoreRecovery {
public:
    // Undoes an interrupted restore into `destination`, or removes a working
    // folder left before any move began or after the last one. A folder of that
    // name that is not Kavlento's (see journal::standingOf) is left as it is;
    // one that may not be trusted (another user's, or one others may write in,
    // or such a part of it) is not even read, and its path is returned for the
    // user to be told. An undo that cannot be completed throws, naming what
    // stands in its way.
    static std::vector<std::string> recover(const std::string& destination,
                                            StepWatch* watch = nullptr);
    static std::vector<std::string> recoverIn(const OpenFolder& destination);

    // The folder that holds a path of the destination, for one of the moves.
    using Holder = std::function<const OpenFolder&(std::string_view path)>;
    // Puts back what the journal's moves changed, the files saying how far they
    // got, and removes the journal once that is on disk.
    static void undo(const OpenFolder& destination, const std::vector<restore::Area>& areas,
                     const Holder& holder);

private:
    static void rollBack(const OpenFolder& destination, const std::vector<restore::Area>& areas,
                         const std::vector<journal::Move>& moves, const Holder& holder);
};

} // namespace kavlento::fs
