#pragma once

#include <string>

namespace kavlento::archive {

// A new, uniquely named folder that is removed with everything in it when this
// object goes.
class TemporaryFolder {
public:
    TemporaryFolder(const std::string& parent, const std::string& namePrefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Removes `path` and everything below it, never following links. Returns
// false if something could not be removed.
bool removeTree(const std::string& path);

} // namespace kavlento::archive
