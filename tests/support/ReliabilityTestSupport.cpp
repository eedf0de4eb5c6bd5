#include "support/ReliabilityTestSupport.h"

#include <QElapsedTimer>
#include <QThread>

#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <filesystem>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool runUnprivileged(const QStringList& trees, const std::function<void()>& job) {
    constexpr uid_t kNobody = 65534;
    const bool root = ::geteuid() == 0;
    for (const QString& tree : trees) {
        const std::string path = QFile::encodeName(tree).toStdString();
        if (!root) {
            continue;
        }
        for (QString above = QFileInfo(tree).absolutePath(); above != "/";
             above = QFileInfo(above).absolutePath()) {
            struct stat info {};
            const QByteArray name = QFile::encodeName(above);
            if (::stat(name.constData(), &info) == 0 && (info.st_mode & 0001) == 0) {
                ::chmod(name.constData(), (info.st_mode & 07777) | 0011);
            }
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
            ::lchown(entry.path().c_str(), kNobody, kNobody);
        }
        ::lchown(path.c_str(), kNobody, kNobody);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(2);
        }
        try {
            job();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace kavlento::testing
