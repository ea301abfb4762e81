#include "text/text_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace {

// The fatal stop ends the process with -1, which a POSIX parent sees as 255.
#ifdef _WIN32
constexpr int FatalExitCode = -1;
#else
constexpr int FatalExitCode = 255;
#endif

// The fatal box text goes to standard error when no display is open, so death tests see it there.
// Code page 936 bytes cannot be matched by a regular expression portably; the codes are ASCII.
TEST(ArrayItemDeathTest, IndexBelowOneIsCodeFourEvenOnAnEmptyArray) {
  const TextArray empty;
  EXPECT_EXIT(ArrayItem(empty, 0), testing::ExitedWithCode(FatalExitCode), "4");
  const TextArray two{"a", "b"};
  EXPECT_EXIT(ArrayItem(two, -3), testing::ExitedWithCode(FatalExitCode), "4");
}

TEST(ArrayItemDeathTest, IndexAboveCountIsCodeOne) {
  const TextArray two{"a", "b"};
  EXPECT_EXIT(ArrayItem(two, 3), testing::ExitedWithCode(FatalExitCode), "1");
  const ByteBuffer bytes{1, 2};
  EXPECT_EXIT(ArrayItem(bytes, 3), testing::ExitedWithCode(FatalExitCode), "1");
}

TEST(ArrayItem, ReadsOneBasedMembersAndUnsignedBytes) {
  TextArray array;
  ArrayAppend(array, "x");
  ArrayAppend(array, "");
  EXPECT_EQ(ArrayCount(array), 2);
  EXPECT_EQ(ArrayItem(array, 1), "x");
  EXPECT_EQ(ArrayItem(array, 2), "");
  const ByteBuffer bytes{0x00, 0xFF};
  EXPECT_EQ(ArrayItem(bytes, 1), 0);
  EXPECT_EQ(ArrayItem(bytes, 2), 255);
}

TEST(FatalErrorText, HasCodeLineOnlyForNonZeroCodeAndMessageLineOnlyForAMessage) {
  EXPECT_EQ(FatalErrorText(1, "数组成员引用下标超出定义范围"),
            "运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n");
  EXPECT_EQ(FatalErrorText(0, "分配 100 字节内存失败!"),
            "运行时出错!\r\n\r\n错误信息：分配 100 字节内存失败!\r\n");
  EXPECT_EQ(FatalErrorText(-7, ""), "运行时出错!\r\n\r\n错误代码：-7\r\n\r\n");
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(AllocationDeathTest, FailedAllocationEndsTheProcessNamingTheBytesAskedFor) {
  // More than any address space holds, yet within the vector's limit, so the allocator is asked.
  constexpr std::size_t hugeSize = sizeof(void*) == 8 ? PTRDIFF_MAX / 2 + 1 : PTRDIFF_MAX;
  EXPECT_EXIT(
      {
        std::vector<char> huge;
        huge.reserve(hugeSize);
      },
      testing::ExitedWithCode(FatalExitCode), std::to_string(hugeSize));
}
#endif

}  // namespace
