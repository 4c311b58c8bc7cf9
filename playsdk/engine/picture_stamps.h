// Time stamps of pictures that a reordering decoder hands out in display order.
//
// Each access unit with a picture goes in with its stamp; each picture that comes out is
// reported with the smallest stamp not yet reported. That is right for both ways streams
// stamp their frames: with presentation times (which the decoder's reordering sorts), and
// with rising stamps in decoding order (records, AVI positions), where the k-th picture in
// display order takes the k-th stamp. Units whose pictures never come out (dropped before
// the first key frame, or damaged) would shift every later stamp; they are forgotten when
// a picture decoded after them is an IDR picture, before which every earlier picture has
// come out, or when they are further behind than any picture can be held.
//
// Thread contract: none; its owner serialises the calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelplay {

class PictureStamps {
  public:
    // Further than this many units behind the unit of a picture coming out, a unit that has
    // not come out never will (16 reference frames, two fields each, and margin).
    static constexpr uint64_t kLongestHoldUnits = 34;

    // Unit number unit (rising) went in with stampMs; idr when it is an IDR picture.
    void fed(uint64_t unit, uint32_t stampMs, bool idr);
    // The picture of unit came out: the stamp to report with it.
    uint32_t out(uint64_t unit);
    // Forgets every unit (the decoder was made anew).
    void clear() { units_.clear(); }
    size_t waiting() const { return units_.size(); }

  private:
    struct Unit {
        uint64_t number;
        uint32_t stampMs;
        bool idr;
    };
    std::vector<Unit> units_;  // in the order fed
    uint32_t lastOut_ = 0;
};

}  // namespace zelplay
