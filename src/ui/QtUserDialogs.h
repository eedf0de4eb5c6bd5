#pragma once

#include "app/UserDialogs.h"
#include "ui/ProgressWindow.h"

#include <QMessageBox>

#include <chrono>
#include <memory>

class QFileDialog;

namespace kavlento::ui {

// Real dialogs in Turkish, whatever language Qt itself is in.
class QtUserDialogs final : public app::UserDialogs {
public:
    explicit QtUserDialogs(ProgressWindow::PercentSource lastPercent);
    ~QtUserDialogs() override;

    void inform(const QString& text, const QString& title, app::MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& title, app::MessageIcon icon,
                  app::DefaultAnswer preferred) override;
    void reportFailure(int number, const QString& description) override;
    QString pickArchiveFile(const QString& startFolder) override;
    QString pickFolder(const QString& prompt, const QString& startFolder) override;
    void showProgress() override;
    void showStep(const app::ProgressStep& step) override;
    void hideProgress() override;
    void note(const QString&) override {} // the windows say what there is to say

    // Boxes close by themselves after `after` (as with Escape: No, or OK),
    // for a run nobody may be watching.
    void closeBoxesAfter(std::chrono::milliseconds after) { closeAfter_ = after; }

    enum class Buttons { Ok, YesNo, YesNoPreferringNo };
    // The message box as shown; an empty title gives the program's title, and a
    // carriage return in the text starts a new line.
    static std::unique_ptr<QMessageBox> messageBox(const QString& text, const QString& title,
                                                   app::MessageIcon icon, Buttons buttons);
    static QString failureText(int number, const QString& description);
    static std::unique_ptr<QFileDialog> archiveFileDialog(const QString& startFolder);
    static std::unique_ptr<QFileDialog> folderDialog(const QString& prompt,
                                                     const QString& startFolder);

private:
    // Shows `box` until it is answered, or for closeAfter_ at the most.
    void exec(QMessageBox& box) const;
    ProgressWindow& progressWindow();

    ProgressWindow::PercentSource lastPercent_;
    std::chrono::milliseconds closeAfter_{0};
    std::unique_ptr<ProgressWindow> progress_;
};

} // namespace kavlento::ui
