#include "support/OwnLocale.h"

#include <QDir>
#include <QProcess>

#include <clocale>
#include <cstdlib>

namespace kavlento::testing {

OwnLocale::OwnLocale(const QString& folder, const QString& name)
    : saved_(std::setlocale(LC_TIME, nullptr)) {
    QDir().mkpath(folder);
    const QString full = name + ".UTF-8";
    made_ = QProcess::execute("localedef", {"-i", name, "-f", "UTF-8", folder + "/" + full}) == 0;
    ::setenv("LOCPATH", folder.toLocal8Bit().constData(), 1);
    made_ = made_ && std::setlocale(LC_TIME, full.toLocal8Bit().constData()) != nullptr;
}

OwnLocale::~OwnLocale() {
    std::setlocale(LC_TIME, saved_.c_str());
    ::unsetenv("LOCPATH");
}

} // namespace kavlento::testing
