#pragma once

#include <QString>

#include <optional>
#include <string_view>

namespace kavlento::fs {

// Why Windows cannot hold `name`, one part of a path, under that very name:
// a character it refuses or reads as something else (':' names a stream),
// a trailing dot or blank it drops, a device name such as CON or a name too
// long. Nothing when it can.
std::optional<QString> windowsNameProblem(std::string_view name);

// The same for the system this program runs on. A restore refuses an archive
// with such a name before it changes anything, naming the entry.
std::optional<QString> nameProblemHere(std::string_view name);

} // namespace kavlento::fs
