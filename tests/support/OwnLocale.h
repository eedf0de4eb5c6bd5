#pragma once

#include <QString>

#include <string>

namespace kavlento::testing {

// A regional setting of the test's own, made with localedef (Debian's package
// locales) into `folder`, and made the one dates are written in (LC_TIME)
// until it goes.
class OwnLocale {
public:
    OwnLocale(const QString& folder, const QString& name); // "nb_NO"
    ~OwnLocale();
    OwnLocale(const OwnLocale&) = delete;
    OwnLocale& operator=(const OwnLocale&) = delete;

    bool made() const { return made_; }

private:
    std::string saved_;
    bool made_ = false;
};

} // namespace kavlento::testing
