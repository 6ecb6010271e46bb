#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>

#include <csignal>
#include <string>

#include "cvcrt.h"

namespace {

TEST(Ticks, ElapsedAcrossAWrap) {
    EXPECT_EQ(TicksElapsed(3, 5), 2u);
    EXPECT_EQ(TicksElapsed(5, 3), UINT64_MAX - 2);  // 2^64 - 3
    EXPECT_EQ(TicksElapsed(7, 7), 0u);
}

TEST(Ticks, CounterIsNanosecondsAndMonotonic) {
    EXPECT_EQ(TicksPerSecond(), 1000000000u);
    const uint64_t before = Ticks();
    CrtSleepMili(2);
    CrtSleepMicro(100);
    CrtSleepNano(150);
    CrtSleep(0, 1000);
    // Lower bound only: the sleeps lasted at least what they were asked for.
    EXPECT_GE(TicksElapsed(before, Ticks()), 2100000u);
}

TEST(Sleep, NegativeOrZeroDurationsReturn) {
    const uint64_t before = Ticks();
    CrtSleep(-5, 0);
    CrtSleep(1, -2000000000);
    CrtSleepMili(-1);
    CrtSleepMicro(0);
    CrtSleepNano(99);
    // None of them may sleep: a duration that wrapped would last seconds or more.
    EXPECT_LT(TicksElapsed(before, Ticks()), TicksPerSecond());
}

volatile sig_atomic_t g_alarmSeen = 0;
void OnAlarm(int) { g_alarmSeen = 1; }

TEST(Sleep, SignalDoesNotCutTheSleepShort) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = OnAlarm;  // no SA_RESTART: the sleep sees EINTR
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 2000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const uint64_t before = Ticks();
    CrtSleepMili(30);
    const uint64_t elapsed = TicksElapsed(before, Ticks());
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_EQ(g_alarmSeen, 1);
    EXPECT_GE(elapsed, 30000000u);
}

TEST(SystemTime, FieldsAreInRange) {
    CrtTime now{};
    CrtSystemTime(&now);
    EXPECT_GT(now.seconds, 1500000000);
    EXPECT_GE(now.microseconds, 0);
    EXPECT_LT(now.microseconds, 1000000);
}

TEST(Library, LoadFindAndUnload) {
    void* library = LibraryLoad(CVCRT_TEST_MODULE_PATH);
    ASSERT_NE(library, nullptr);
    auto twice = reinterpret_cast<int (*)(int)>(LibraryFindSymbol(library, "cvcrtTestModuleTwice"));
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice(21), 42);
    const auto* value = static_cast<const int*>(LibraryFindSymbol(library, "cvcrtTestModuleValue"));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, 42);
    EXPECT_EQ(LibraryFindSymbol(library, "noSuchSymbol"), nullptr);
    EXPECT_NE(LibraryUnload(library), 0);
}

TEST(Library, FailuresYieldNullOrZero) {
    EXPECT_EQ(LibraryLoad(CVCRT_TEST_MODULE_DIR "/no-such-module.so"), nullptr);
    EXPECT_EQ(LibraryLoad(nullptr), nullptr);
    EXPECT_EQ(LibraryFindSymbol(nullptr, "CrtGetAbi"), nullptr);
    EXPECT_EQ(LibraryUnload(nullptr), 0);
}

TEST(Library, NormalizedNameLoads) {
    char name[256];
    ASSERT_GT(LibraryNormalizeName(CVCRT_TEST_MODULE_DIR "/cvcrt_test_module", name, sizeof name), 0);
    EXPECT_EQ(std::string(name), CVCRT_TEST_MODULE_PATH);
    void* library = LibraryLoad(name);
    ASSERT_NE(library, nullptr);
    EXPECT_NE(LibraryUnload(library), 0);
}

TEST(Library, NormalizeNameCutsToTheBuffer) {
    char name[8] = "xxxxxxx";
    EXPECT_EQ(LibraryNormalizeName("cvpl-local", name, sizeof name), 13);
    EXPECT_STREQ(name, "cvpl-lo");
    EXPECT_EQ(LibraryNormalizeName("cvpl-local", nullptr, 0), 13);
    EXPECT_EQ(LibraryNormalizeName(nullptr, name, sizeof name), -1);
}

}  // namespace
