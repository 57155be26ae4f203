#include "platform/handles.h"

#include <gtest/gtest.h>

namespace {

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

TEST(OwnedHandleTest, ReleasesOnScopeExitAndMoveAndReset) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    Utils::UniqueHandle first(raw);
    Utils::UniqueHandle second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_TRUE(IsOpen(raw));
    Utils::UniqueHandle third;
    third = std::move(second);
    EXPECT_EQ(third.get(), raw);
  }
  EXPECT_FALSE(IsOpen(raw));

  HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Utils::UniqueHandle holder(kept);
  EXPECT_EQ(holder.release(), kept);
  holder.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_TRUE(IsOpen(kept));  // released, not closed
  const Utils::UniqueHandle closer(kept);
}

// Both "nothing" values count as empty, whichever way they arrive:
// INVALID_HANDLE_VALUE is also the current process's pseudo handle.
TEST(OwnedHandleTest, InvalidHandleValueIsEmpty) {
  Utils::UniqueHandle made(CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(made);
  EXPECT_EQ(made.get(), nullptr);

  Utils::UniqueFindHandle found;
  WIN32_FIND_DATAW data;
  *found.put() = FindFirstFileW(L"Z:\\no\\such\\folder\\*", &data);
  EXPECT_FALSE(found);
}

}  // namespace
