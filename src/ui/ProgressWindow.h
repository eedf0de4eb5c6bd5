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
// its bar; it never closes itself.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    using PercentSource = std::function<std::optional<int>()>;

    explicit ProgressWindow(PercentSource sayac);

    // Shows the window modally, centred on the screen; returns when it is closed.
    void runModal();

    QTimer* const Timer1;
    QProgressBar* const Cubuk;
    QLabel* const Label2;
    QLabel* const Label1;

private:
    void tick();

    PercentSource sayac_;
};

} // namespace kavlento::ui
