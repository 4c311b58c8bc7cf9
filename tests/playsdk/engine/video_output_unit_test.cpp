// The video output's parts that need no X server: the hand-off slot, the software
// conversion's colour range and context cache, the backend names and the X image layouts.
// gtest before Xlib, whose None and Bool macros clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "picture_slot.h"
#include "software_scaler.h"
#include "vo_select.h"
#include "ximage_drawer.h"

using namespace zelplay;

namespace {

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

PictureBytes flatPlanes(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    PictureBytes planes(luma, y);
    planes.insert(planes.end(), luma / 4, v);  // V before U
    planes.insert(planes.end(), luma / 4, u);
    return planes;
}

Picture flatPicture(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
    return Picture::packed(std::make_shared<const PictureBytes>(flatPlanes(width, height, y, u, v)),
                           width, height);
}

// The picture's own bytes are alike (a buffer may be larger than its picture).
bool samePixels(const Picture& a, const Picture& b) {
    const size_t bytes = a.lumaBytes() + 2 * a.chromaBytes();
    return a.width == b.width && a.height == b.height && std::equal(a.y(), a.y() + bytes, b.y());
}

}  // namespace

TEST(PictureSlot, ASecondPictureBeforeTheFirstIsTakenIsDroppedAndTheFirstStays) {
    PictureSlot slot;
    const Picture a = flatPicture(32, 16, 10, 20, 30);
    const Picture b = flatPicture(64, 32, 40, 50, 60);
    EXPECT_FALSE(readable(slot.wakeFd()));
    EXPECT_TRUE(slot.offer(a.y(), a.v(), a.u(), a.width, a.height));
    EXPECT_TRUE(readable(slot.wakeFd()));
    EXPECT_FALSE(slot.offer(b.y(), b.v(), b.u(), b.width, b.height));

    Picture got;
    ASSERT_TRUE(slot.take(got));
    EXPECT_EQ(got.width, 32);
    EXPECT_TRUE(samePixels(got, a));
    EXPECT_FALSE(slot.take(got));
    slot.drainWakeups();
    EXPECT_FALSE(readable(slot.wakeFd()));

    // A picture of another size goes through once the slot is free again.
    EXPECT_TRUE(slot.offer(b.y(), b.v(), b.u(), b.width, b.height));
    ASSERT_TRUE(slot.take(got));
    EXPECT_EQ(got.width, 64);
    EXPECT_EQ(got.height, 32);
    EXPECT_TRUE(samePixels(got, b));
}

TEST(PictureSlot, ASharedPictureIsKeptByReferenceAndASecondOneIsDropped) {
    PictureSlot slot;
    const Picture a = flatPicture(32, 16, 10, 20, 30);
    const Picture b = flatPicture(32, 16, 40, 50, 60);
    EXPECT_TRUE(slot.offer(a));
    EXPECT_FALSE(slot.offer(b));
    EXPECT_FALSE(slot.offer(b.y(), b.v(), b.u(), b.width, b.height));
    Picture got;
    ASSERT_TRUE(slot.take(got));
    EXPECT_EQ(got.owner, a.owner) << "shared, not copied";
    EXPECT_EQ(b.owner.use_count(), 1) << "the dropped picture is not kept";
    // The render thread's previous picture is let go when it takes the next one.
    EXPECT_TRUE(slot.offer(b));
    ASSERT_TRUE(slot.take(got));
    EXPECT_EQ(got.owner, b.owner);
    EXPECT_EQ(a.owner.use_count(), 1);
}

TEST(PicturePool, NeverHandsOutABufferStillHeldAndTakesBackReleasedOnes) {
    PicturePool pool;
    std::shared_ptr<PictureBytes> first = pool.acquire(100);
    ASSERT_GE(first->size(), 100u);
    (*first)[0] = 7;
    std::shared_ptr<const PictureBytes> reader = first;  // as an output keeps it
    first.reset();
    const std::shared_ptr<PictureBytes> second = pool.acquire(50);
    EXPECT_NE(second.get(), reader.get());
    EXPECT_EQ((*reader)[0], 7) << "a shared buffer is not written";
    const PictureBytes* const readerBuffer = reader.get();
    reader.reset();
    EXPECT_EQ(pool.idle(), 1u);
    // Recycled, and grown to what is asked.
    const std::shared_ptr<PictureBytes> third = pool.acquire(200);
    EXPECT_EQ(third.get(), readerBuffer);
    EXPECT_GE(third->size(), 200u);
    EXPECT_EQ(pool.idle(), 0u);
}

TEST(PicturePool, KeepsAFewIdleBuffersAndOutlivesNothing) {
    std::vector<std::shared_ptr<PictureBytes>> many;
    auto pool = std::make_unique<PicturePool>();
    for (int i = 0; i < 10; ++i)
        many.push_back(pool->acquire(16));
    many.resize(2);
    EXPECT_LE(pool->idle(), 4u);
    pool.reset();
    many.clear();  // released after their pool is gone: simply freed
}

TEST(PictureSlot, ClearEmptiesItAndNotifyWakesWithoutAPicture) {
    PictureSlot slot;
    const Picture a = flatPicture(16, 16, 1, 2, 3);
    ASSERT_TRUE(slot.offer(a.y(), a.v(), a.u(), 16, 16));
    slot.clear();
    Picture got;
    EXPECT_FALSE(slot.take(got));
    slot.drainWakeups();
    slot.notify();
    EXPECT_TRUE(readable(slot.wakeFd()));
    EXPECT_FALSE(slot.take(got));
}

struct Bgr0 {
    uint8_t b, g, r, x;
};

std::vector<Bgr0> convert(SoftwareScaler& scaler, const Picture& p, int width, int height) {
    std::vector<Bgr0> out(static_cast<size_t>(width * height));
    const RgbBuffer dst{reinterpret_cast<uint8_t*>(out.data()), width * 4, width, height,
                        AV_PIX_FMT_BGR0};
    EXPECT_TRUE(scaler.yuvToRgb(p, dst));
    return out;
}

TEST(SoftwareScaler, ReadsBt601LimitedRange) {
    SoftwareScaler scaler;
    // Limited range: 16 is black, 235 is white.
    const Bgr0 black = convert(scaler, flatPicture(64, 32, 16, 128, 128), 64, 32)[100];
    EXPECT_LE(black.r + black.g + black.b, 3);
    const Bgr0 white = convert(scaler, flatPicture(64, 32, 235, 128, 128), 64, 32)[100];
    EXPECT_GE(white.r, 253);
    EXPECT_GE(white.g, 253);
    EXPECT_GE(white.b, 253);
    // Pure red in BT.601 limited range is Y 81, U 90, V 240 (BT.709 would give orange).
    const Bgr0 red = convert(scaler, flatPicture(64, 32, 81, 90, 240), 64, 32)[100];
    EXPECT_GE(red.r, 250);
    EXPECT_LE(red.g, 4);
    EXPECT_LE(red.b, 4);
    // Pure blue: Y 41, U 240, V 110; the U and V planes must not be swapped.
    const Bgr0 blue = convert(scaler, flatPicture(64, 32, 41, 240, 110), 64, 32)[100];
    EXPECT_GE(blue.b, 250);
    EXPECT_LE(blue.r, 4);
    EXPECT_LE(blue.g, 4);
}

TEST(SoftwareScaler, MakesAContextOnlyWhenASizeChanges) {
    SoftwareScaler scaler;
    const Picture p = flatPicture(64, 32, 100, 110, 120);
    for (int i = 0; i < 5; ++i)
        convert(scaler, p, 32, 16);
    EXPECT_EQ(scaler.contextsMade(), 1);
    convert(scaler, p, 48, 24);  // the window was resized
    EXPECT_EQ(scaler.contextsMade(), 2);
    convert(scaler, flatPicture(80, 40, 1, 2, 3), 48, 24);  // a new picture size
    EXPECT_EQ(scaler.contextsMade(), 3);
}

TEST(SoftwareScaler, AWindowAQuarterOfThePictureAveragesItsPixels) {
    // Columns alternately black and white: averaged they are mid grey, not one or the other.
    PictureBytes columns = flatPlanes(64, 32, 16, 128, 128);
    for (int y = 0; y < 32; ++y)
        for (int x = 1; x < 64; x += 2)
            columns[static_cast<size_t>(y * 64 + x)] = 235;
    const Picture p =
        Picture::packed(std::make_shared<const PictureBytes>(std::move(columns)), 64, 32);
    SoftwareScaler scaler;
    for (const Bgr0& px : convert(scaler, p, 16, 8)) {
        EXPECT_NEAR(px.r, 128, 3);
        EXPECT_NEAR(px.g, 128, 3);
        EXPECT_NEAR(px.b, 128, 3);
    }
    // Halving the picture twice does not disturb the colours.
    const Bgr0 red = convert(scaler, flatPicture(64, 32, 81, 90, 240), 16, 8)[20];
    EXPECT_GE(red.r, 250);
    EXPECT_LE(red.g + red.b, 8);
}

TEST(VideoBackendNames, ParseTheEnvironmentsWordsAndNothingElse) {
    EXPECT_EQ(videoBackendFromName("xv"), VideoBackend::Xv);
    EXPECT_EQ(videoBackendFromName("SHM"), VideoBackend::Shm);
    EXPECT_EQ(videoBackendFromName("x11"), VideoBackend::X11);
    EXPECT_EQ(videoBackendFromName("null"), VideoBackend::Null);
    EXPECT_EQ(videoBackendFromName("opengl"), VideoBackend::Auto);
    EXPECT_EQ(videoBackendFromName(""), VideoBackend::Auto);
    EXPECT_EQ(videoBackendFromName(nullptr), VideoBackend::Auto);
}

TEST(XImageLayout, MapsTheCommonVisualsAndRefusesOthers) {
    XImage image{};
    image.byte_order = LSBFirst;
    image.bits_per_pixel = 32;
    image.red_mask = 0xFF0000;
    image.green_mask = 0xFF00;
    image.blue_mask = 0xFF;
    EXPECT_EQ(ximagePixelFormat(image, 24), AV_PIX_FMT_BGR0);
    EXPECT_EQ(ximagePixelFormat(image, 32), AV_PIX_FMT_BGRA);  // opaque alpha
    image.byte_order = MSBFirst;
    EXPECT_EQ(ximagePixelFormat(image, 24), AV_PIX_FMT_0RGB);
    image.byte_order = LSBFirst;
    image.bits_per_pixel = 16;
    image.red_mask = 0xF800;
    image.green_mask = 0x07E0;
    image.blue_mask = 0x1F;
    EXPECT_EQ(ximagePixelFormat(image, 16), AV_PIX_FMT_RGB565LE);
    image.bits_per_pixel = 8;
    EXPECT_EQ(ximagePixelFormat(image, 8), AV_PIX_FMT_NONE);
}
