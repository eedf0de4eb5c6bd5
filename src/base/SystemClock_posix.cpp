#include "base/Clock.h"

#include <algorithm>
#include <clocale>
#include <ctime>
#include <fstream>

namespace kavlento {

namespace {

bool isPlainC(const char* locale) {
    const std::string name = locale != nullptr ? locale : "C";
    return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// The value of `LC_TIME`, else `LC_ALL`, else `LANG` in files of lines
// "NAME=value" (quotes around the value allowed), as Debian and systemd keep
// the system's default locale.
std::string defaultLocale(const std::vector<std::string>& files) {
    for (const char* name : {"LC_TIME", "LC_ALL", "LANG"}) {
        for (const std::string& path : files) {
            std::ifstream file(path);
            std::string line;
            while (std::getline(file, line)) {
                const std::string key = std::string(name) + "=";
                if (line.rfind(key, 0) != 0) {
                    continue;
                }
                std::string value = line.substr(key.size());
                value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
                value.erase(std::remove(value.begin(), value.end(), '\''), value.end());
                if (!value.empty()) {
                    return value;
                }
            }
        }
    }
    return std::string();
}

QString format(const char* pattern, const std::tm& tm) {
    char buffer[128];
    const std::size_t length = std::strftime(buffer, sizeof buffer, pattern, &tm);
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(length));
}
} // namespace

SystemClock::SystemClock(const std::vector<std::string>& defaultsFiles) {
    if (!isPlainC(std::setlocale(LC_TIME, nullptr))) {
        return;
    }
    const std::string system = defaultLocale(defaultsFiles);
    turkishForm_ = system.empty() || isPlainC(system.c_str()) ||
                   std::setlocale(LC_TIME, system.c_str()) == nullptr;
}

std::tm localTime(std::time_t seconds) {
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return tm;
}

bool readsAsShortDate(std::string text) {
    for (int pass = 0; pass < 2; ++pass) {
        std::tm tm{};
        const char* end = ::strptime(text.c_str(), "%x", &tm);
        if (end != nullptr && *end == '\0') {
            return true;
        }
        std::replace(text.begin(), text.end(), '-', '/');
    }
    return false;
}

Moment SystemClock::now() const {
    const std::time_t now = std::time(nullptr);
    const std::tm tm = localTime(now);
    Moment moment;
    moment.seconds = static_cast<std::int64_t>(now);
    moment.day = tm.tm_mday;
    moment.month = tm.tm_mon + 1;
    moment.year = tm.tm_year + 1900;
    moment.hour = tm.tm_hour;
    moment.minute = tm.tm_min;
    moment.second = tm.tm_sec;
    moment.dateText = format(turkishForm_ ? "%d-%m-%Y" : "%x", tm);
    moment.timeText = format(turkishForm_ ? "%H:%M:%S" : "%X", tm);
    return moment;
}

} // namespace kavlento
