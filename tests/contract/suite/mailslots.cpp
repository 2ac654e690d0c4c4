// Mailslot contract: the trace channel's reading and writing ends.
#include <gtest/gtest.h>

#include "contract_env.h"

namespace quilo::contract {
namespace {

using namespace platform;

std::vector<std::byte> message(std::size_t size, char fill) {
    return std::vector<std::byte>(size, static_cast<std::byte>(fill));
}

TEST(Mailslots, MessagesUpToTheMaximumArriveWholeAndInOrder) {
    auto& slots = contractEnv().platform().mailslots();
    MailslotHandle reader(slots,
                          slots.createMailslot("\\\\.\\mailslot\\Quilo\\Contract\\Order", 400, 0));
    ASSERT_TRUE(reader) << "error " << slots.lastError();
    MailslotHandle writer(slots, slots.openMailslot("\\\\.\\mailslot\\Quilo\\Contract\\Order"));
    ASSERT_TRUE(writer) << "error " << slots.lastError();
    EXPECT_FALSE(slots.read(reader.get()).has_value()) << "nothing written yet";

    const std::vector<std::byte> sent[] = {message(400, 'a'), message(1, 'b'), message(399, 'c')};
    for (const auto& m : sent)
        ASSERT_TRUE(slots.write(writer.get(), m));
    for (const auto& m : sent)
        EXPECT_EQ(slots.read(reader.get()), m);
    EXPECT_FALSE(slots.read(reader.get()).has_value());
}

TEST(Mailslots, NamesIgnoreCaseAndTheBroadcastFormReachesTheLocalSlot) {
    auto& slots = contractEnv().platform().mailslots();
    MailslotHandle reader(
        slots, slots.createMailslot("\\\\.\\mailslot\\Kelvo.ra2\\Xray.Ifc\\Test.Trc", 400, 0));
    ASSERT_TRUE(reader);
    {
        MailslotHandle local(slots,
                             slots.openMailslot("\\\\.\\MAILSLOT\\kelvo.ra2\\XRAY.IFC\\test.trc"));
        ASSERT_TRUE(local) << "error " << slots.lastError();
        ASSERT_TRUE(slots.write(local.get(), message(3, 'l')));
        // A writing end shares with readers only: no second writer while it is open.
        EXPECT_EQ(slots.openMailslot("\\\\.\\mailslot\\Kelvo.ra2\\Xray.Ifc\\Test.Trc"), 0u);
        EXPECT_EQ(slots.lastError(), 32u);
    }
    MailslotHandle broadcast(slots,
                             slots.openMailslot("\\\\*\\mailslot\\Kelvo.ra2\\Xray.Ifc\\Test.Trc"));
    ASSERT_TRUE(broadcast) << "error " << slots.lastError();
    ASSERT_TRUE(slots.write(broadcast.get(), message(400, 'b')));  // a whole trace line
    EXPECT_EQ(slots.read(reader.get()), message(3, 'l'));
    EXPECT_EQ(slots.read(reader.get()), message(400, 'b'));
}

TEST(Mailslots, WritingEndCannotBeOpenedWithoutAReader) {
    auto& slots = contractEnv().platform().mailslots();
    EXPECT_EQ(slots.openMailslot("\\\\.\\mailslot\\Quilo\\Contract\\Nobody"), 0u);
    EXPECT_EQ(slots.lastError(), err::kFileNotFound);
    EXPECT_EQ(slots.openMailslot("\\\\*\\mailslot\\Quilo\\Contract\\Nobody"), 0u);
    EXPECT_EQ(slots.lastError(), err::kFileNotFound);
}

TEST(Mailslots, ASecondReadingEndOfTheSameNameIsRefused) {
    auto& slots = contractEnv().platform().mailslots();
    MailslotHandle first(slots,
                         slots.createMailslot("\\\\.\\mailslot\\Quilo\\Contract\\Twice", 0, 0));
    ASSERT_TRUE(first);
    EXPECT_EQ(slots.createMailslot("\\\\.\\mailslot\\quilo\\contract\\TWICE", 0, 0), 0u);
    EXPECT_EQ(slots.lastError(), err::kAlreadyExists);
    first.reset();
    MailslotHandle again(slots,
                         slots.createMailslot("\\\\.\\mailslot\\Quilo\\Contract\\Twice", 0, 0));
    EXPECT_TRUE(again) << "the name is free once its only handle is closed";
}

TEST(Mailslots, AWriterOutlivesItsReaderAndKeepsTheNameTaken) {
    auto& slots = contractEnv().platform().mailslots();
    const char* name = "\\\\.\\mailslot\\Quilo\\Contract\\Viewer";
    MailslotHandle reader(slots, slots.createMailslot(name, 400, 0));
    MailslotHandle writer(slots, slots.openMailslot(name));
    ASSERT_TRUE(reader && writer);
    reader.reset();  // the viewer closes
    EXPECT_TRUE(slots.write(writer.get(), message(10, 'x'))) << "writing into the void is no error";
    EXPECT_EQ(slots.createMailslot(name, 400, 0), 0u) << "the open writer keeps the name";
    EXPECT_EQ(slots.lastError(), err::kAlreadyExists);
    writer.reset();
    MailslotHandle fresh(slots, slots.createMailslot(name, 400, 0));
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(slots.read(fresh.get()).has_value()) << "a new slot starts empty";
}

}  // namespace
}  // namespace quilo::contract
