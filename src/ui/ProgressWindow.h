#pragma once

#include <QDialog>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QTimer;

namespace kavlento::ui {

// The small window without a title bar that shows the percentage of the
// running archive job. Every 10 ms it copies the last reported percentage into
// its bar; it never closes itself, and nothing closes it.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    using PercentSource = std::function<std::optional<int>()>;

    explicit ProgressWindow(PercentSource lastPercent);

    // Shows the window modally, centred on the screen. It stays until the
    // program ends: no key and no close request takes it away while its job
    // runs, and the main window takes no input meanwhile.
    void runModal();
    // Shows it, as modal to the main window, without waiting: for work that
    // runs before the job, while the caller's own event loop runs.
    void showAside();
    // Names the step under the bar, which then shows the step's share of the
    // job's percentage, `from` to `to`; equal ones show only that work goes on.
    void setStep(const QString& text, int from, int to);

    void reject() override {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void tick();
    void moveToScreenCentre();

    // Object names as designed: Timer1, Cubuk, Label2, Label1.
    QTimer* const tickTimer_;
    QProgressBar* const bar_;
    QLabel* const titleLabel_;
    QLabel* const waitLabel_;
    QLabel* const stepLabel_;

    PercentSource lastPercent_;
    int stepFrom_ = 0;
    int stepTo_ = 100;
};

} // namespace kavlento::ui
