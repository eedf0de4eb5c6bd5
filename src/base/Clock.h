#pragma once

#include <QString>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kavlento {

// A moment as the backup job needs it: the numbers that name the archive and
// the regional date and time texts that name the dated folder and the record.
struct Moment {
    int day = 1;
    int month = 1;
    int year = 1970;
    int hour = 0;
    int minute = 0;
    int second = 0;
    QString dateText;
    QString timeText;
    std::int64_t seconds = 0; // since 1970-01-01 UTC
};

// The calendar fields of `seconds` in the system's local time zone.
std::tm localTime(std::time_t seconds);

// Whether `text` reads whole as a short date of the regional settings in use
// (`%x`), also where '-' stands for the '/' a folder name cannot hold: the
// dated folders of regions whose dates have letters ("09. des. 2026").
bool readsAsShortDate(std::string text);

class Clock {
public:
    virtual ~Clock() = default;
    virtual Moment now() const = 0;
};

// The system's local time, with the short date and time formats of the
// C library's locale (`%x` and `%X`). Where the environment gives no regional
// settings (C or POSIX, as under cron and systemd timers), those of the
// system's default locale, read from `defaultsFiles`; where there are none
// either, the Turkish form dd-mm-yyyy and HH:MM:SS. So a nightly backup and
// one taken in the window name the same day the same way.
class SystemClock final : public Clock {
public:
    explicit SystemClock(const std::vector<std::string>& defaultsFiles = {"/etc/default/locale",
                                                                          "/etc/locale.conf"});
    Moment now() const override;

private:
    bool turkishForm_ = false;
};

} // namespace kavlento
