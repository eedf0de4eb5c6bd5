#include "app/LineOutput.h"

#include <QDateTime>

namespace kavlento::app {

void StreamOutput::line(const QString& text) {
    std::fprintf(stream_, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream_);
}

void LogOutput::line(const QString& text) {
    stream_.line(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                 QStringLiteral(" Kavlento: ") + text);
}

} // namespace kavlento::app
