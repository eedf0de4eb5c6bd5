#include "support/InstalledProgram.h"

#include "store/TargetSetting.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace kavlento::testing {

void InstalledProgram::SetUp() {
    QDir().mkpath(programFolder);
    QDir().mkpath(targetFolder);
    install(programFolder);
}

void InstalledProgram::storeTarget(const QString& target) const {
    writeBytes(programFolder + "/yedekleme.dat", store::TargetSetting::encode(target));
}

void InstalledProgram::install(const QString& into) {
    QFile::remove(into + "/kavlento");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KAVLENTO_EXECUTABLE), into + "/kavlento"));
}

QByteArray InstalledProgram::installedBytes() {
    return readBytes(QStringLiteral(KAVLENTO_EXECUTABLE));
}

void startAsNobody(QString& program, QStringList& arguments) {
    if (::geteuid() == 0) {
        arguments =
            QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + arguments;
        program = QStringLiteral("setpriv");
    }
}

} // namespace kavlento::testing
