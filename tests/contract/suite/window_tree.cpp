// Window-system contract: parents, owners, position, z-order, visibility and text.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

using WindowTree = WindowContract;

using platform::Rect;

TEST_F(WindowTree, ParentsOwnersAndReparenting) {
    RecordingWindow first(ws), second(ws);
    EXPECT_EQ(ws.getParent(first.hwnd()), 0u) << "a top-level window has no parent";

    platform::WindowSpec childSpec;
    childSpec.parent = first.hwnd();
    RecordingWindow child(ws, childSpec);
    EXPECT_EQ(ws.getParent(child.hwnd()), first.hwnd());
    EXPECT_EQ(ws.setParent(child.hwnd(), second.hwnd()), first.hwnd());
    EXPECT_EQ(ws.getParent(child.hwnd()), second.hwnd());

    // A top-level window placed under another one, and put back.
    platform::WindowSpec ownedSpec;
    ownedSpec.owner = first.hwnd();
    RecordingWindow owned(ws, ownedSpec);
    EXPECT_EQ(ws.getOwner(owned.hwnd()), first.hwnd());
    EXPECT_EQ(ws.getParent(owned.hwnd()), 0u) << "an owner is not a parent";
    EXPECT_EQ(ws.setParent(owned.hwnd(), second.hwnd()), 0u);
    EXPECT_EQ(ws.getParent(owned.hwnd()), second.hwnd());
    EXPECT_EQ(ws.setParent(owned.hwnd(), 0), second.hwnd());
    EXPECT_EQ(ws.getParent(owned.hwnd()), 0u);
}

TEST_F(WindowTree, DestroyingAWindowDestroysItsChildren) {
    auto parent = std::make_unique<RecordingWindow>(ws);
    platform::WindowSpec childSpec;
    childSpec.parent = parent->hwnd();
    RecordingWindow child(ws, childSpec);
    ASSERT_TRUE(ws.isWindow(child.hwnd()));
    parent.reset();
    EXPECT_FALSE(ws.isWindow(child.hwnd()));
}

TEST_F(WindowTree, PositionAndTopmost) {
    platform::WindowSpec spec;
    spec.rect = Rect{100, 120, 500, 420};
    RecordingWindow w(ws, spec);
    EXPECT_EQ(ws.windowRect(w.hwnd()), spec.rect);
    EXPECT_FALSE(ws.isTopmost(w.hwnd()));

    using namespace platform::swp;
    ASSERT_TRUE(ws.setWindowPos(w.hwnd(), platform::kHwndTopmost, {}, kNoMove | kNoSize));
    EXPECT_TRUE(ws.isTopmost(w.hwnd()));
    EXPECT_EQ(ws.windowRect(w.hwnd()), spec.rect) << "kNoMove | kNoSize moved the window";
    ASSERT_TRUE(ws.setWindowPos(w.hwnd(), platform::kHwndNoTopmost, {}, kNoMove | kNoSize));
    EXPECT_FALSE(ws.isTopmost(w.hwnd()));

    ASSERT_TRUE(ws.setWindowPos(w.hwnd(), 0, Rect{40, 50, 340, 250}, kNoZOrder | kNoActivate));
    EXPECT_EQ(ws.windowRect(w.hwnd()), (Rect{40, 50, 340, 250}));
    ASSERT_TRUE(ws.setWindowPos(w.hwnd(), 0, Rect{10, 20, 0, 0}, kNoZOrder | kNoSize));
    EXPECT_EQ(ws.windowRect(w.hwnd()), (Rect{10, 20, 310, 220})) << "a move keeps the size";

    platform::WindowSpec topSpec;
    topSpec.topmost = true;
    RecordingWindow top(ws, topSpec);
    EXPECT_TRUE(ws.isTopmost(top.hwnd()));
}

TEST_F(WindowTree, VisibilityAndText) {
    platform::WindowSpec spec;
    spec.title = "Quilo";
    RecordingWindow w(ws, spec);
    EXPECT_FALSE(ws.isVisible(w.hwnd()));
    ASSERT_TRUE(ws.showWindow(w.hwnd(), true));
    EXPECT_TRUE(ws.isVisible(w.hwnd()));
    ASSERT_TRUE(ws.showWindow(w.hwnd(), false));
    EXPECT_FALSE(ws.isVisible(w.hwnd()));

    EXPECT_EQ(ws.windowText(w.hwnd()), "Quilo");
    const std::string caption = "Réglages – Quilo";  // UTF-8 inside the program
    ASSERT_TRUE(ws.setWindowText(w.hwnd(), caption));
    EXPECT_EQ(ws.windowText(w.hwnd()), caption);
    ASSERT_TRUE(ws.setWindowText(w.hwnd(), ""));
    EXPECT_EQ(ws.windowText(w.hwnd()), "");
}

}  // namespace
}  // namespace quilo::contract
