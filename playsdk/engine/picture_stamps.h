// Time stamps of pictures that a reordering decoder hands out in display order.
//
// Streams stamp their frames in one of two ways. Frames stamped with their presentation
// times come in with stamps that go back and forth (B-frames): each picture keeps the stamp
// of its own unit, which the decoder carries through its reordering. Frames stamped with a
// rising clock in decoding order (records, AVI positions): the k-th picture in display order
// takes the k-th stamp fed, which on such a clock is the smallest not yet reported. A stream counts
// as stamped by presentation once a stamp goes back (by less than a second: more is a clock that
// starts again).
//
// On the rising clock a unit whose picture never comes out (dropped before the first key
// frame, or damaged) would make every later picture a frame late. Units decoded before an
// IDR picture have all come out when it does, so the rest are forgotten then; a unit further
// behind than any picture can be held is forgotten too, so the list stays short.
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
    // Forgets every unit and how the stream stamps its frames (the decoder was made anew).
    void clear() {
        units_.clear();
        presentationStamped_ = false;
        anyFed_ = false;
    }
    size_t waiting() const { return units_.size(); }

  private:
    struct Unit {
        uint64_t number;
        uint32_t stampMs;
        bool idr;
    };
    std::vector<Unit> units_;  // in the order fed
    uint32_t lastOut_ = 0;
    uint32_t lastFed_ = 0;
    bool anyFed_ = false;
    bool presentationStamped_ = false;  // a stamp has gone back
};

}  // namespace zelplay
