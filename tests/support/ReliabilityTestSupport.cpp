#include "support/ReliabilityTestSupport.h"

#include <QElapsedTimer>
#include <QThread>

#include <csignal>

#include <gtest/gtest.h>

namespace kavlento::testing {

qint64 timeUninterrupted(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return timer.elapsed();
}

bool killAfter(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment, int afterMs) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForStarted());
    if (process.waitForFinished(afterMs)) {
        return false;
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished();
    return true;
}

std::vector<int> killMoments(qint64 duration, int count) {
    std::vector<int> moments;
    for (int i = 0; i < count; ++i) {
        moments.push_back(static_cast<int>(duration * (2 * i + 1) / (2 * count)));
    }
    return moments;
}

QProcessEnvironment headlessEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
}

} // namespace kavlento::testing
