#pragma once

#include "support/TempFolder.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace kavlento::testing {

// The real executable, copied into a program folder of its own beside a
// target folder, to be started the way the host starts it.
class InstalledProgram : public ::testing::Test {
protected:
    TempFolder folder;
    QString programFolder = folder.file("program");
    QString targetFolder = folder.file("hedef");

    void SetUp() override;

    QString program() const { return programFolder + "/kavlento"; }
    void storeTarget(const QString& target) const;

    // Copies the executable into `into` as its `kavlento`.
    static void install(const QString& into);
    static QByteArray installedBytes();
};

// Turns a start of `program` with `arguments` into one as the user nobody,
// when the test runs as root and can.
void startAsNobody(QString& program, QStringList& arguments);

} // namespace kavlento::testing
