#pragma once

#include "app/MainView.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace kavlento::ui {

class StyledButton;

// The program's one ordinary window: the backup settings at the top, the
// history list, a banner and a notice, and the buttons that act on the history.
// Controls keep their designer names as object names.
class MainWindow : public QWidget, public MainView {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    QString targetText() const override;
    void setTargetText(const QString& text) override;
    void setProgramFolderText(const QString& text) override;
    void showHistory(const QList<store::HistoryRecord>& records) override;
    std::optional<store::HistoryRecord> selectedHistoryRecord() const override;
    void setEntryButtonsEnabled(bool enabled) override;

    int historyCount() const;

    // Shows the window centred on its screen, with the focus on the list.
    void showCentered();

    QGroupBox* const Frame2;
    QLineEdit* const Text1;
    QLineEdit* const Text2;
    StyledButton* const Command2;
    StyledButton* const Command1;
    QLabel* const Label1;
    QLabel* const Label3;
    QTreeWidget* const ListView1;
    QGroupBox* const Frame3;
    StyledButton* const Command3;
    StyledButton* const Command4;
    StyledButton* const Command6;
    StyledButton* const Command5;
    QLabel* const Label2;
    QLabel* const Image2;

    static const QColor kBackground;

signals:
    // A close request from outside the program.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onItemClicked(QTreeWidgetItem* item);
};

} // namespace kavlento::ui
