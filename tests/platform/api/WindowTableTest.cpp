// Windows that take posted messages: the process-wide handle table.
#include "platform/AudioTestSupport.h"
#include "platform/api/windef.h"

#include <gtest/gtest.h>

#include <memory>

using conformance::MessageRecorder;

TEST(WindowTable, StaleHandleFails) {
    EXPECT_FALSE(PostMessage(reinterpret_cast<HWND>(0x42), 1, 0, 0));
    EXPECT_FALSE(PostMessage(nullptr, 1, 0, 0));
    EXPECT_EQ(RegisterMessageTarget(nullptr), nullptr);
}

TEST(WindowTable, PostReachesTheTargetUntilItIsUnregistered) {
    HWND stale = nullptr;
    {
        MessageRecorder win;
        stale = win.Hwnd();
        ASSERT_TRUE(IsWindow(stale));
        EXPECT_TRUE(PostMessage(stale, WM_USER + 1, 2, -3));
        ASSERT_EQ(win.Messages().size(), 1u);
        EXPECT_EQ(win.Messages()[0].msg, WM_USER + 1);
        EXPECT_EQ(win.Messages()[0].wParam, 2u);
        EXPECT_EQ(win.Messages()[0].lParam, -3);
    }
    EXPECT_FALSE(IsWindow(stale));
    EXPECT_FALSE(PostMessage(stale, WM_USER, 0, 0));
    // A new window never gets the handle of a destroyed one, so old posts cannot reach it.
    MessageRecorder next;
    EXPECT_NE(next.Hwnd(), stale);
    EXPECT_FALSE(PostMessage(stale, WM_USER, 0, 0));
    EXPECT_TRUE(next.Messages().empty());
}
