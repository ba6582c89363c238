// Memory for the driver's tables: zeroed, aligned, and left intact when huge
// pages are asked for after it was written.

#include "util/huge_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velkan {
namespace {

TEST(HugePages, BuffersAreZeroedAndAligned) {
  for (size_t bytes : {size_t{64}, HugePageBuffer::kHugePage, 3 * HugePageBuffer::kHugePage + 64}) {
    HugePageBuffer buffer(bytes);
    ASSERT_NE(buffer.data(), nullptr);
    if (bytes >= HugePageBuffer::kHugePage) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.data()) % HugePageBuffer::kHugePage, 0u);
    }
    uint64_t nonzero = 0;
    for (size_t i = 0; i < bytes; i++) nonzero += buffer.data()[i] != 0;
    EXPECT_EQ(nonzero, 0u);
    buffer.data()[bytes - 1] = 1;  // the whole size is writable
    HugePageBuffer moved = std::move(buffer);
    EXPECT_EQ(moved.data()[bytes - 1], 1);
  }
  EXPECT_EQ(HugePageBuffer(0).data(), nullptr);
}

TEST(HugePages, AdviceKeepsWrittenContents) {
  std::vector<uint32_t> array(5 * HugePageBuffer::kHugePage / sizeof(uint32_t) + 7);
  for (size_t i = 0; i < array.size(); i++) array[i] = static_cast<uint32_t>(i * 2654435761u);
  advise_huge_pages(array.data(), array.size() * sizeof(uint32_t));
  advise_huge_pages(array.data() + 1, 16);  // less than a huge page: nothing to do
  for (size_t i = 0; i < array.size(); i++) {
    ASSERT_EQ(array[i], static_cast<uint32_t>(i * 2654435761u)) << i;
  }
}

}  // namespace
}  // namespace velkan
