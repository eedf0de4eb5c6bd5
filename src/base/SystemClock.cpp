#include "base/Clock.h"

#include <ctime>

namespace kavlento {

namespace {
QString format(const char* pattern, const std::tm& tm) {
    char buffer[128];
    const std::size_t length = std::strftime(buffer, sizeof buffer, pattern, &tm);
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(length));
}
} // namespace

Moment SystemClock::now() const {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &now);
#else
    localtime_r(&now, &tm);
#endif
    Moment moment;
    moment.day = tm.tm_mday;
    moment.month = tm.tm_mon + 1;
    moment.year = tm.tm_year + 1900;
    moment.hour = tm.tm_hour;
    moment.minute = tm.tm_min;
    moment.second = tm.tm_sec;
    moment.dateText = format("%x", tm);
    moment.timeText = format("%X", tm);
    return moment;
}

} // namespace kavlento
