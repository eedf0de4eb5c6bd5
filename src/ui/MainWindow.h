#pragma once

#include "app/MainView.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QTreeView;

namespace kavlento::ui {

class HistoryModel;
class StyledButton;

// The program's one ordinary window: the backup settings at the top, the
// history list, a banner and a notice, and the buttons that act on the history.
// It holds widgets only; what a button does is wired by the program. Its
// controls keep the host window's designer names (Command1, Text1, ListView1)
// as their object names.
class MainWindow : public QWidget, public app::MainView {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    QString targetText() const override;
    void setTargetText(const QString& text) override;
    void setProgramFolderText(const QString& text) override;
    void showHistory(store::History history) override;
    std::optional<store::HistoryRecord> selectedHistoryRecord() const override;
    void setEntryButtonsEnabled(bool enabled) override;

    int historyCount() const override;

    // Shows the window centred on its screen, with the focus on the list.
    void showCentered();

    static const QColor kBackground;

signals:
    void chooseTargetClicked();
    void backupClicked();
    void removeEntryClicked();
    void restoreEntryClicked();
    void restoreFileClicked();
    void closeClicked();
    // A close request from outside the program.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onItemClicked(const QModelIndex& item);
    void describeForScreenReaders();

    // Each control also carries its name from the window's design as its
    // object name, which tests and pictures find it by.
    QGroupBox* const settingsBox_;
    QLineEdit* const targetField_;
    QLineEdit* const programFolderField_;
    StyledButton* const backupButton_;
    StyledButton* const chooseTargetButton_;
    QLabel* const targetLabel_;
    QLabel* const programFolderLabel_;
    HistoryModel* const history_;
    QTreeView* const historyList_;
    QGroupBox* const entryButtonsBox_;
    StyledButton* const removeEntryButton_;
    StyledButton* const restoreEntryButton_;
    StyledButton* const restoreFileButton_;
    StyledButton* const closeButton_;
    QLabel* const noticeLabel_;
    QLabel* const banner_;
};

} // namespace kavlento::ui
