#include "platform/windef.h"
#include <gtest/gtest.h>
TEST(WindowTable, StaleHandleFails) {
    EXPECT_FALSE(PostMessage(reinterpret_cast<HWND>(0x42), 1, 0, 0));
}
