#pragma once

#include <string>

namespace kavlento::fs {

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

} // namespace kavlento::fs
