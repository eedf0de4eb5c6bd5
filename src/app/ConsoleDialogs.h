#pragma once

#include "app/UserDialogs.h"

#include <cstdio>

namespace kavlento::app {

// Where there is no display (a scheduled backup), nobody can press a button:
// messages, error reports and the run's notes go to standard error, one line
// each that starts with the local time, and return at once. The progress
// window is still shown, offscreen, by the dialogs it wraps.
class ConsoleDialogs final : public UserDialogs {
public:
    ConsoleDialogs(UserDialogs& windows, std::FILE* out) : windows_(windows), out_(out) {}

    void inform(const QString& text, const QString& title, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& title, MessageIcon icon) override;
    void reportFailure(int number, const QString& description) override;
    QString pickArchiveFile() override { return QString(); }
    QString pickFolder(const QString&, const QString&) override { return QString(); }
    void showProgress() override { windows_.showProgress(); }
    void note(const QString& line) override { print(line); }

private:
    void print(const QString& line);

    UserDialogs& windows_;
    std::FILE* out_;
};

} // namespace kavlento::app
