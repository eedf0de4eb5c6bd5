#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

namespace kavlento {

// Turns the requests to stop that a shutdown, `systemctl stop`, `timeout` or
// Ctrl-C send (SIGTERM, SIGINT, SIGHUP) into a call on the user-interface
// thread, where the running job can be stopped cleanly instead of the process
// dying with a half-written file and no word in the log.
class StopSignals : public QObject {
public:
    using Handler = std::function<void(const QString& signalName)>;

    explicit StopSignals(Handler onStop, QObject* parent = nullptr);
    ~StopSignals() override;

private:
    void deliver();

    Handler onStop_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kavlento
