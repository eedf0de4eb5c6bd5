#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace kavlento::testing {

// An X display of the test's own (Xvfb), for driving the real window with the
// mouse and the keyboard as a user would (xdotool).
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    bool running() const { return !display_.isEmpty() && server_.state() == QProcess::Running; }
    const QString& display() const { return display_; }

    // Runs xdotool against this display and returns what it printed.
    QString xdotool(const QStringList& arguments) const;

    // Drives a restore in the program window `program` has just opened: the
    // lower "GÖZAT...", the archive's path typed into the file dialog, then
    // Enter on every box that follows (Yes to the question, OK to the message
    // at the end or to the error) until the program ends. Its exit status, or
    // -1 when it did not end.
    int restorePicked(QProcess& program, const QString& archive) const;

private:
    // The visible windows whose title matches `title`, waiting for one that is
    // not in `known`; empty when none came.
    QString waitForWindow(const QString& title, const QStringList& known) const;

    QString display_;
    QProcess server_;
};

} // namespace kavlento::testing
