#include "core/registration.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace quilo {
namespace {

struct Listener {
    int id = 0;
};

TEST(Registration, EndsWithItsOwnerAndMovesWithoutEnding) {
    ListenerSlot<Listener> slot;
    Listener a{1};
    {
        Registration first = slot.attach(a);
        Registration moved = std::move(first);
        first = Registration();  // the moved-from one ends nothing
        ASSERT_EQ(slot.get(), &a);
        EXPECT_TRUE(moved.active());
    }
    EXPECT_EQ(slot.get(), nullptr);

    Registration r = slot.attach(a);
    r = Registration();  // assigned over: ended
    EXPECT_EQ(slot.get(), nullptr);
}

TEST(Registration, AStaleRegistrationLeavesItsSuccessorAttached) {
    ListenerSlot<Listener> slot;
    Listener a{1}, b{2};
    Registration old = slot.attach(a);
    const Registration current = slot.attach(b);
    EXPECT_FALSE(old.active());
    old.reset();
    ASSERT_EQ(slot.get(), &b);
    EXPECT_EQ(slot.get()->id, 2);
}

TEST(Registration, OutlivingItsSourceIsHarmless) {
    Listener a;
    Registration r;
    {
        auto slot = std::make_unique<ListenerSlot<Listener>>();
        r = slot->attach(a);
    }
    EXPECT_FALSE(r.active());
    r.reset();
}

}  // namespace
}  // namespace quilo
