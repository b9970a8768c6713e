#include <gtest/gtest.h>

#include <thread>

#include "platform/com.h"

namespace platform {
namespace {

TEST(ComCounter, AnswersAsCoInitializeDoes) {
  ASSERT_EQ(ComInitializationCount(), 0);
  EXPECT_EQ(CoInitialize(), kSOk);
  EXPECT_EQ(CoInitialize(), kSFalse);
  EXPECT_EQ(CoInitializeEx(Apartment::SingleThreaded), kSFalse);
  // The other apartment model is refused and not counted.
  EXPECT_EQ(CoInitializeEx(Apartment::MultiThreaded), kRpcEChangedMode);
  EXPECT_EQ(ComInitializationCount(), 3);

  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(ComInitializationCount(), 1);
  CoUninitialize();
  EXPECT_EQ(ComInitializationCount(), 0);
  CoUninitialize();  // one too many does nothing
  EXPECT_EQ(ComInitializationCount(), 0);

  // Fully uninitialised, the thread may choose its model again.
  EXPECT_EQ(CoInitializeEx(Apartment::MultiThreaded), kSOk);
  EXPECT_EQ(CoInitialize(), kRpcEChangedMode);
  CoUninitialize();
  EXPECT_EQ(ComInitializationCount(), 0);
}

TEST(ComCounter, EachThreadCountsForItself) {
  EXPECT_EQ(CoInitialize(), kSOk);
  platform::HResult other_first = 0, other_second = 0;
  int other_count_after = -1;
  std::thread other([&] {
    other_first = CoInitialize();
    other_second = CoInitialize();
    CoUninitialize();
    CoUninitialize();
    other_count_after = ComInitializationCount();
  });
  other.join();
  EXPECT_EQ(other_first, kSOk);
  EXPECT_EQ(other_second, kSFalse);
  EXPECT_EQ(other_count_after, 0);
  EXPECT_EQ(ComInitializationCount(), 1);
  CoUninitialize();
}

}  // namespace
}  // namespace platform
