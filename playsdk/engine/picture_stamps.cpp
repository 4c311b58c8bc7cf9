#include "picture_stamps.h"

#include <algorithm>

namespace zelplay {

namespace {

// A stamp further back than this is a clock that started again, not a B-frame.
constexpr int32_t kLongestStepBackMs = 1000;

}  // namespace

void PictureStamps::fed(uint64_t unit, uint32_t stampMs, bool idr) {
    const int32_t step = static_cast<int32_t>(stampMs - lastFed_);
    if (anyFed_ && step < 0 && step > -kLongestStepBackMs)
        presentationStamped_ = true;
    anyFed_ = true;
    lastFed_ = stampMs;
    units_.push_back({unit, stampMs, idr});
}

uint32_t PictureStamps::out(uint64_t unit) {
    auto self =
        std::find_if(units_.begin(), units_.end(), [&](const Unit& u) { return u.number == unit; });
    const bool idr = self != units_.end() && self->idr;
    std::erase_if(units_, [&](const Unit& u) {
        return u.number + kLongestHoldUnits < unit || (idr && u.number < unit);
    });
    if (units_.empty())
        return lastOut_;
    // On a rising clock the earliest stamp fed is the smallest (also across a wrap of the
    // clock, or a clock that started again).
    auto chosen = units_.begin();
    if (presentationStamped_) {
        chosen = std::find_if(units_.begin(), units_.end(),
                              [&](const Unit& u) { return u.number == unit; });
        if (chosen == units_.end())
            return lastOut_;
    }
    lastOut_ = chosen->stampMs;
    units_.erase(chosen);
    return lastOut_;
}

}  // namespace zelplay
