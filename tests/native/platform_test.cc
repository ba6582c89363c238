// The platform layer answers for this process as it runs, not for the machine.

#include "util/platform.h"

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sched.h>
#endif

#include <cstddef>
#include <cstdint>

namespace velkan {
namespace {

TEST(Platform, UsableProcessorsFollowTheAffinityMask) {
#if defined(__linux__)
  cpu_set_t before;
  ASSERT_EQ(sched_getaffinity(0, sizeof(before), &before), 0);
  EXPECT_EQ(platform::usable_processors(), CPU_COUNT(&before));
  if (CPU_COUNT(&before) < 2) GTEST_SKIP() << "one processor: no narrower mask to set";
  int first = 0;
  while (!CPU_ISSET(first, &before)) first++;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
  const int narrowed = platform::usable_processors();
  ASSERT_EQ(sched_setaffinity(0, sizeof(before), &before), 0);
  EXPECT_EQ(narrowed, 1);
#else
  EXPECT_GE(platform::usable_processors(), 0);
#endif
}

TEST(Platform, AddressSpaceProbeSaysNoToTheImpossible) {
  EXPECT_TRUE(platform::address_space_has_room(size_t{1} << 20));
#if defined(__unix__) || defined(__APPLE__)
  // More than any 64-bit machine maps: the probe must refuse, not crash.
  EXPECT_FALSE(platform::address_space_has_room(SIZE_MAX / 2));
#endif
}

}  // namespace
}  // namespace velkan
