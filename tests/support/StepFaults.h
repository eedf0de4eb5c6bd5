#pragma once

#include "fs/StepWatch.h"

#include <QString>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kavlento::testing {

// Makes the `count`-th step of `step`'s kind fail once, as an I/O error would,
// or, where `instead` is given, runs that first and lets the step go on.
class FailingStep : public fs::StepWatch {
public:
    FailingStep(fs::Step step, int count, std::function<void()> instead = {});
    void before(const fs::Change& change) override;
    // Whether the step planned has come.
    bool reached() const;

private:
    mutable std::mutex mutex_;
    fs::Step step_;
    int remaining_;
    std::function<void()> instead_;
};

// The power goes at the `count`-th change of any kind: it and every change
// after it fail, as nothing runs any more. loseWhatWasNotSynced() then throws
// away, newest first, every change no sync had made durable, as the disk of a
// machine that lost its power would: a rename, a new name or a removal stays
// only once both folders it touched were synced, a mode once its folder was,
// a new file's bytes once the file was, and all of it after a sync of the
// whole file system (one file system is assumed). What a removal takes is
// kept aside in `stash` (on the same file system) to come back from. Linux
// only.
class PowerCut : public fs::StepWatch {
public:
    PowerCut(int count, QString stash);
    void before(const fs::Change& change) override;
    bool reached() const;
    void loseWhatWasNotSynced();
    // Whether a change of `step`'s kind to a path named `name` had been made
    // durable when the power went.
    bool kept(fs::Step step, const std::string& name) const;

private:
    struct Pending {
        fs::Change change;
        std::string kept;  // what a removal or a replacement took, in the stash
        unsigned mode = 0; // the mode before a mode change, or of a folder removed
        bool folder = false;
        bool inFolder = false;   // durable in the folder of `path`
        bool intoFolder = false; // durable in the folder of `to`
        bool content = false;    // a new file's bytes are durable
    };
    std::string keepAside(const std::string& path, bool move);
    void synced(const std::string& folder);

    mutable std::mutex mutex_;
    int remaining_;
    bool cut_ = false;
    std::string stash_;
    int kept_ = 0;
    std::vector<Pending> pending_;
    std::vector<fs::Change> durable_;
};

} // namespace kavlento::testing
