#pragma once

#include <QString>

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
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual Moment now() const = 0;
};

// The system's local time, with the short date and time formats of the
// C library's locale (`%x` and `%X`).
class SystemClock final : public Clock {
public:
    Moment now() const override;
};

} // namespace kavlento
