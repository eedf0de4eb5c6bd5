#pragma once

#include <functional>
#include <string>

namespace kavlento::fs {

// The steps of fs that change a folder, each of which can fail in the middle
// of a restore. Tests make the k-th one of a kind fail, to see that what
// fails at any step leaves the folder as it was or wholly restored.
enum class Step { Rename, ModeChange, Removal, Sync };

// From now on, the `count`-th step of `step`'s kind fails once, as an I/O
// error would, or, where `instead` is given, runs it first and goes on; 0
// clears it. For tests only: nothing else calls it.
void failStep(Step step, int count, std::function<void()> instead = {});
// Whether the step planned last has come.
bool stepReached();

// Called by fs before each such step; throws the failure planned for it.
void beforeStep(Step step, const std::string& path);

} // namespace kavlento::fs
