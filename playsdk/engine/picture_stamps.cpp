#include "picture_stamps.h"

#include <algorithm>

namespace zelplay {

namespace {
// Stamps are compared as serial numbers, so that a millisecond clock that wraps past 2^32
// keeps its order.
bool earlier(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) < 0;
}
}  // namespace

void PictureStamps::fed(uint64_t unit, uint32_t stampMs, bool idr) {
    units_.push_back({unit, stampMs, idr});
}

uint32_t PictureStamps::out(uint64_t unit) {
    auto self = std::find_if(units_.begin(), units_.end(),
                             [&](const Unit& u) { return u.number == unit; });
    const bool idr = self != units_.end() && self->idr;
    std::erase_if(units_, [&](const Unit& u) {
        return u.number + kLongestHoldUnits < unit || (idr && u.number < unit);
    });
    if (units_.empty())
        return lastOut_;
    auto smallest = units_.begin();
    for (auto it = units_.begin(); it != units_.end(); ++it) {
        if (earlier(it->stampMs, smallest->stampMs))
            smallest = it;
    }
    lastOut_ = smallest->stampMs;
    units_.erase(smallest);
    return lastOut_;
}

}  // namespace zelplay
