// The time stamps of pictures that a reordering decoder hands out in display order, for the
// two ways streams stamp their frames, with units whose pictures never come out.
#include "picture_stamps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using zelplay::PictureStamps;

TEST(PictureStamps, PicturesTakeTheStampsInOrderWhateverOrderTheirUnitsCameIn) {
    // Units I P B B, stamped in decoding order (a record's rising clock): the pictures come
    // out I B B P and take 0, 40, 80, 120.
    PictureStamps s;
    s.fed(1, 0, true);
    s.fed(2, 40, false);
    s.fed(3, 80, false);
    EXPECT_EQ(s.out(1), 0u);
    s.fed(4, 120, false);
    EXPECT_EQ(s.out(3), 40u);
    EXPECT_EQ(s.out(4), 80u);
    EXPECT_EQ(s.out(2), 120u);
    EXPECT_EQ(s.waiting(), 0u);

    // The same units stamped with their presentation times (I 0, P 120, B 40, B 80): each
    // picture keeps its own.
    PictureStamps p;
    p.fed(1, 1000, true);
    p.fed(2, 1120, false);
    p.fed(3, 1040, false);
    EXPECT_EQ(p.out(1), 1000u);
    p.fed(4, 1080, false);
    EXPECT_EQ(p.out(3), 1040u);
    EXPECT_EQ(p.out(4), 1080u);
    EXPECT_EQ(p.out(2), 1120u);
}

TEST(PictureStamps, UnitsWhosePicturesNeverComeOutAreForgotten) {
    // A stream joined in the middle: two units the decoder drops before the first IDR
    // picture, which still takes its own stamp.
    PictureStamps s;
    s.fed(1, 0, false);
    s.fed(2, 40, false);
    s.fed(3, 80, true);
    EXPECT_EQ(s.out(3), 80u);
    EXPECT_EQ(s.waiting(), 0u);
    // Between IDR pictures a unit that never comes out leaves its stamp to the next picture:
    // the pictures run a frame late until the next IDR picture.
    PictureStamps d;
    uint64_t unit = 0;
    d.fed(++unit, 0, true);
    EXPECT_EQ(d.out(unit), 0u);
    d.fed(++unit, 40, false);  // damaged: never comes out
    for (uint32_t i = 2; i < 60; ++i) {
        d.fed(++unit, 40 * i, false);
        EXPECT_EQ(d.out(unit), 40 * (i - 1));
    }
    d.fed(++unit, 40 * 60, true);
    EXPECT_EQ(d.out(unit), 40u * 60) << "caught up at the IDR picture";
    EXPECT_EQ(d.waiting(), 0u);
}

TEST(PictureStamps, FramesStampedWithPresentationTimesKeepTheirOwn) {
    // Once a stamp goes back, the stream is stamped by presentation: a unit that never comes
    // out shifts nothing.
    PictureStamps p;
    p.fed(1, 1000, true);
    p.fed(2, 1120, false);
    p.fed(3, 1040, false);  // goes back: presentation times
    p.fed(4, 1080, false);  // damaged: never comes out
    EXPECT_EQ(p.out(1), 1000u);
    EXPECT_EQ(p.out(3), 1040u);
    EXPECT_EQ(p.out(2), 1120u);
    // A clock that starts again (a step back of more than a second) is no sign of it.
    PictureStamps r;
    r.fed(1, 90000, true);
    r.fed(2, 100, true);
    r.fed(3, 140, false);
    EXPECT_EQ(r.out(1), 90000u) << "the last picture before the clock started again";
    EXPECT_EQ(r.out(2), 100u);
}

TEST(PictureStamps, AClockThatWrapsKeepsItsOrder) {
    PictureStamps s;
    s.fed(1, 0xFFFFFFC0u, true);
    s.fed(2, 0x00000010u, false);  // after the wrap, stamped in display order later
    s.fed(3, 0xFFFFFFE8u, false);
    EXPECT_EQ(s.out(1), 0xFFFFFFC0u);
    EXPECT_EQ(s.out(3), 0xFFFFFFE8u);
    EXPECT_EQ(s.out(2), 0x00000010u);
    // With nothing waiting, a picture keeps the last stamp given.
    EXPECT_EQ(s.out(9), 0x00000010u);
}
