#pragma once

#include "archive/JobControl.h"
#include "base/WorkerPool.h"
#include "zip/WinZipAes.h"

#include <future>
#include <memory>
#include <string>
#include <vector>

namespace kavlento::archive {

// Salts and their keys for the entries of an archive: a fresh salt for every
// entry, as the format demands, whose keys are derived on the workers a batch
// at a time (side by side, see Pbkdf2Sha1), ahead of the entries that take them.
class KeySupply {
public:
    struct Batch {
        std::vector<zip::AesSalt> salts;
        std::vector<zip::AesKeys> keys;
    };
    // One salt and its keys; waits for its batch when asked.
    struct Slot {
        std::shared_future<std::shared_ptr<const Batch>> batch;
        std::size_t index = 0;

        const zip::AesSalt& salt() const { return batch.get()->salts[index]; }
        const zip::AesKeys& keys() const { return batch.get()->keys[index]; }
    };

    // The pool and the control must outlive the supply's work.
    KeySupply(WorkerPool& pool, std::string password, const JobControl& control)
        : pool_(pool), password_(std::move(password)), control_(control) {}

    // The next salt, from the batch being used up; a new batch is handed to
    // the workers when it is.
    Slot take();

private:
    WorkerPool& pool_;
    std::string password_;
    const JobControl& control_;
    std::shared_future<std::shared_ptr<const Batch>> batch_;
    std::size_t taken_ = zip::kSaltsDerivedTogether;
};

} // namespace kavlento::archive
