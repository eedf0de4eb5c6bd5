#include "archive/KeySupply.h"

namespace kavlento::archive {

KeySupply::Slot KeySupply::take() {
    if (taken_ == zip::kSaltsDerivedTogether) {
        batch_ = pool_
                     .submit([this] {
                         control_.throwIfCancelled();
                         auto batch = std::make_shared<Batch>();
                         for (std::size_t i = 0; i < zip::kSaltsDerivedTogether; ++i) {
                             batch->salts.push_back(zip::randomSalt());
                         }
                         batch->keys = zip::deriveAesKeys(password_, batch->salts);
                         return std::shared_ptr<const Batch>(std::move(batch));
                     })
                     .share();
        taken_ = 0;
    }
    return {batch_, taken_++};
}

} // namespace kavlento::archive
