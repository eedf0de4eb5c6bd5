// The reader of the stored target folder, on any bytes.
#include "store/TargetSetting.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString target = kavlento::store::TargetSetting::decode(
        QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    // Whatever was read is stored back as one quoted line.
    if (!target.contains(QLatin1Char('"')) && !target.contains(QLatin1Char('\r')) &&
        !target.contains(QLatin1Char('\n'))) {
        const QByteArray stored = kavlento::store::TargetSetting::encode(target);
        if (kavlento::store::TargetSetting::decode(stored) != target) {
            __builtin_trap();
        }
    }
    return 0;
}
