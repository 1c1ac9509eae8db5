// ThrottledStopCheck on a clock the test sets: whatever the rhythm of the polls, the
// question is put exactly when an interval has passed since the last one (or since
// the start), so at most once per interval; a true answer stops every later poll
// without another question.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <random>
#include <utility>
#include <vector>

#include "selection/throttled_stop_check.hpp"

namespace kestrava {
namespace {

struct TestClock {
    using duration = std::chrono::microseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<TestClock>;
    static constexpr bool is_steady = true;
    static inline time_point now_value{};
    static time_point now() noexcept { return now_value; }
};

constexpr TestClock::duration interval{10'000};

struct Questions {
    std::size_t count = 0;
    std::size_t true_from = 0;  // the question answered true first; 0: none

    static bool ask(void* context) noexcept {
        auto& self = *static_cast<Questions*>(context);
        ++self.count;
        return self.count == self.true_from;
    }
};

TEST(ThrottledStopCheck, AsksExactlyWhenAnIntervalHasPassedSinceTheLastQuestion) {
    // Steps between polls, least and most, in microseconds: far below the interval,
    // around it and above it.
    const std::vector<std::pair<int, int>> rhythms = {{1, 1},         {0, 3},          {1, 700},
                                                      {9'999, 10'001}, {10'000, 10'000}, {5'000, 25'000}};
    std::mt19937_64 random(20260701);
    for (const auto& [least, most] : rhythms) {
        TestClock::now_value = TestClock::time_point{};
        Questions questions;
        ThrottledStopCheck<TestClock> throttle(interval, &Questions::ask, &questions);
        const StopCheck check = throttle.check();
        TestClock::time_point last_question = TestClock::now_value;
        std::uniform_int_distribution<int> step(least, most);
        for (int poll = 0; poll < 100'000; ++poll) {
            TestClock::now_value += TestClock::duration(step(random));
            const bool due = TestClock::now_value - last_question >= interval;
            const std::size_t before = questions.count;
            ASSERT_FALSE(check.stop_requested());
            ASSERT_EQ(questions.count - before, due ? 1U : 0U) << "steps " << least << ".." << most << ", poll " << poll;
            if (due) last_question = TestClock::now_value;
        }
        EXPECT_GE(questions.count, 10U) << "steps " << least << ".." << most;
    }
}

TEST(ThrottledStopCheck, ATrueAnswerStopsEveryLaterPollWithoutAnotherQuestion) {
    for (const std::size_t true_from : {1U, 2U, 5U}) {
        TestClock::now_value = TestClock::time_point{};
        Questions questions{0, true_from};
        ThrottledStopCheck<TestClock> throttle(interval, &Questions::ask, &questions);
        const StopCheck check = throttle.check();
        std::size_t polls_until_stop = 0;
        while (!check.stop_requested()) {
            TestClock::now_value += interval / 4;
            ++polls_until_stop;
        }
        EXPECT_EQ(polls_until_stop, 4 * true_from);
        for (int poll = 0; poll < 10; ++poll) {
            TestClock::now_value += interval;
            EXPECT_TRUE(check.stop_requested());
        }
        EXPECT_EQ(questions.count, true_from);
    }
}

}  // namespace
}  // namespace kestrava
