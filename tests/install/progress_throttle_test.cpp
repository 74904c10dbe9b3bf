#include "install/progress_throttle.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ProgressThrottle, SmallArchivesReportEveryStep) {
    ProgressThrottle throttle;
    EXPECT_TRUE(throttle.ShouldPost(1, 2, 1000));
    EXPECT_TRUE(throttle.ShouldPost(2, 2, 1000)) << "the last step always passes";
}

TEST(ProgressThrottle, FastStepsPassAtMostOncePerInterval) {
    ProgressThrottle throttle;
    std::vector<std::uint32_t> posted;
    // 1000 entries, one every 0.1 ms: 100 ms in all.
    for (std::uint32_t done = 1; done <= 1000; ++done)
        if (throttle.ShouldPost(done, 1000, 5000 + done / 10)) posted.push_back(done);
    ASSERT_GE(posted.size(), 3u);
    EXPECT_EQ(1u, posted.front());
    EXPECT_EQ(1000u, posted.back());
    EXPECT_LE(posted.size(), 2 + 100 / ProgressThrottle::kIntervalMilliseconds + 1) << "posted: " << posted.size();
}

TEST(ProgressThrottle, SlowStepsAllPass) {
    ProgressThrottle throttle;
    for (std::uint32_t done = 1; done <= 50; ++done)
        EXPECT_TRUE(throttle.ShouldPost(done, 50, done * ProgressThrottle::kIntervalMilliseconds)) << done;
}

}  // namespace
