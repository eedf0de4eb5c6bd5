#include "support/VirtualDisplay.h"

#include <QElapsedTimer>
#include <QThread>

namespace kavlento::testing {

VirtualDisplay::VirtualDisplay() {
    for (int number = 90; number < 110 && !running(); ++number) {
        display_ = QStringLiteral(":%1").arg(number);
        server_.start("Xvfb", {display_, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!server_.waitForStarted() || server_.waitForFinished(700)) {
            display_.clear();
        }
    }
}

VirtualDisplay::~VirtualDisplay() {
    server_.kill();
    server_.waitForFinished();
}

QString VirtualDisplay::xdotool(const QStringList& arguments) const {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    tool.setProcessEnvironment(env);
    tool.start("xdotool", arguments);
    tool.waitForFinished(20000);
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

QString VirtualDisplay::waitForWindow(const QString& title, const QStringList& known) const {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 20000) {
        const QString found = xdotool({"search", "--onlyvisible", "--name", title});
        for (const QString& window : found.split('\n', Qt::SkipEmptyParts)) {
            if (!known.contains(window)) {
                return window;
            }
        }
        QThread::msleep(100);
    }
    return QString();
}

int VirtualDisplay::restorePicked(QProcess& program, const QString& archive) const {
    const QString main = waitForWindow("^Kavlento$", {});
    // The lower "GÖZAT..." sits at (246, 12) in the group box at (34, 528).
    xdotool({"mousemove", "--window", main, "328", "556", "click", "1"});
    const QString fileDialog = waitForWindow(".", {main});
    if (main.isEmpty() || fileDialog.isEmpty()) {
        return -1;
    }
    xdotool({"windowfocus", "--sync", fileDialog});
    xdotool({"type", "--delay", "2", archive});
    xdotool({"key", "Return"});
    QElapsedTimer waited;
    waited.start();
    while (!program.waitForFinished(300)) {
        if (waited.elapsed() > 120000) {
            return -1;
        }
        const QString boxes = xdotool({"search", "--onlyvisible", "--name", "^Kavlento$"});
        for (const QString& box : boxes.split('\n', Qt::SkipEmptyParts)) {
            if (box != main) {
                xdotool({"windowfocus", "--sync", box});
                xdotool({"key", "Return"});
            }
        }
    }
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

} // namespace kavlento::testing
