#include <gtest/gtest.h>

#include "PlayOptions.h"

using namespace monvid;

TEST(PlayOptions, SocketTimeOutTravelsUnderTheNameEachProtocolKnows) {
    using Options = std::vector<std::pair<std::string, std::string>>;
    const Options common = {{"max_delay", "100"}, {"bufsize", "7*1024"}, {"probesize", "4096*10"}};

    Options rtsp = common;
    rtsp.emplace_back("timeout", "10000000");
    EXPECT_EQ(openOptionsFor("rtsp://127.0.0.1:554/live"), rtsp);
    EXPECT_EQ(openOptionsFor("RTSP://camera/stream"), rtsp);

    // "timeout" would make the RTMP reader listen for a connection instead of connecting.
    Options rtmp = common;
    rtmp.emplace_back("rw_timeout", "10000000");
    EXPECT_EQ(openOptionsFor("rtmp://127.0.0.1/live/a"), rtmp);
    EXPECT_EQ(openOptionsFor("rtmps://host/app/b"), rtmp);

    EXPECT_EQ(openOptionsFor("/home/user/clip.mp4"), common);
    EXPECT_EQ(openOptionsFor("http://host/clip.mp4"), common);
}

TEST(PlayOptions, OnlyRtspAndRtmpAreLive) {
    EXPECT_TRUE(isLiveAddress("rtsp://a/b"));
    EXPECT_TRUE(isLiveAddress("rtmp://a/b"));
    EXPECT_FALSE(isLiveAddress("/tmp/rtsp://x"));
    EXPECT_FALSE(isLiveAddress("rtsp:/missing-slash"));
    EXPECT_FALSE(isLiveAddress(""));
    EXPECT_FALSE(isLiveAddress("file.mp4"));
}

TEST(PresentationClock, PacesPicturesByTheirTimesFromTheFirst) {
    PresentationClock clock;
    EXPECT_EQ(clock.delayUs(1'000'000, 50'000'000), 0);       // first picture: due now
    EXPECT_EQ(clock.delayUs(1'040'000, 50'000'000), 40'000);  // 40 ms later in the stream
    EXPECT_EQ(clock.delayUs(1'080'000, 50'030'000), 50'000);
    EXPECT_EQ(clock.delayUs(1'120'000, 50'200'000), 0);  // late: shown at once
}

TEST(PresentationClock, DamagedTimesNeverStallThePicture) {
    PresentationClock clock;
    clock.delayUs(10'000'000, 0);
    EXPECT_EQ(clock.delayUs(INT64_MIN, 0), 0);   // no time stamp
    EXPECT_EQ(clock.delayUs(9'000'000, 10), 0);  // backwards: re-anchored
    EXPECT_EQ(clock.delayUs(9'040'000, 10), 40'000);
    EXPECT_EQ(clock.delayUs(3'600'000'000, 20), 0);  // a jump of an hour: re-anchored
    EXPECT_EQ(clock.delayUs(3'600'040'000, 20), 40'000);
}
