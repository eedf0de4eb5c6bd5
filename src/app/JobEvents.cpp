#include "app/JobEvents.h"

#include "base/Failure.h"

namespace kavlento::app {

void JobEvents::onProgress(int percent) {
    state_.lastPercent = percent;
    restore_.completionTest();
}

void JobEvents::onFailed(int number, const QString& description) {
    throw Failure(static_cast<FailureCode>(number), description);
}

} // namespace kavlento::app
