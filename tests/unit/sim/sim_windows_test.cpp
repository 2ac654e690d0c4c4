// Windows, messages and processes of the simulated world: what the contract suite cannot
// see from one process (handle values, ordering across processes, destruction, process end).
#include <gtest/gtest.h>

#include <cstring>

#include "recorder.h"

namespace quilo::sim::test {
namespace {

using SimWindows = OneProcess;

using namespace platform;

TEST_F(SimWindows, HandlesLookRealAndAreNeverReused) {
    Recorder rec(world);
    std::vector<Hwnd> seen;
    for (int i = 0; i < 50; ++i) {
        const Hwnd h = topWindow(p, &rec);
        ASSERT_NE(h, 0u);
        EXPECT_EQ(h % 2, 0u);
        EXPECT_LT(h, 0x7FFFFFFFu);
        EXPECT_EQ(handleFromRecord(handleToRecord(h)), h);
        for (Hwnd old : seen)
            EXPECT_NE(old, h);
        seen.push_back(h);
        ASSERT_TRUE(p.windows().destroyWindow(h));
        EXPECT_FALSE(p.windows().isWindow(h));
    }
    const Hwnd gone = seen.front();
    EXPECT_FALSE(p.windows().postMessage(gone, wm::kUser, 0, 0));
    EXPECT_EQ(p.windows().lastError(), err::kInvalidWindowHandle);
    EXPECT_EQ(p.windows().sendMessage(gone, wm::kUser, 0, 0), 0);
}

TEST_F(SimWindows, BroadcastsReachTopLevelWindowsOfEveryProcessInCreationOrder) {
    auto& host = p;
    auto& plugin = world.createProcess();
    std::vector<Seen> log;
    Recorder a(world, &log), b(world, &log), c(world, &log), child(world, &log);
    const Hwnd ha = topWindow(host, &a);
    const Hwnd hb = topWindow(plugin, &b);
    const Hwnd hc = topWindow(host, &c);
    WindowSpec spec;
    spec.parent = ha;
    ASSERT_NE(host.windows().createWindow(spec, &child), 0u);
    const MsgId ifc = plugin.windows().registerWindowMessage("Kelvora2XrayInterface0");
    EXPECT_EQ(host.windows().registerWindowMessage("KELVORA2XRAYINTERFACE0"), ifc);
    EXPECT_GE(ifc, 0xC000u);
    log.clear();

    // Notify-broadcast from the host: its own windows synchronously, the plug-in's queued.
    ASSERT_TRUE(host.windows().sendNotifyMessage(kHwndBroadcast, ifc, 1, 0));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].hwnd, ha);
    EXPECT_EQ(log[1].hwnd, hc);
    world.runUntilIdle();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2].hwnd, hb);

    // A posted broadcast queues for all three, in creation order; the child is left out.
    log.clear();
    ASSERT_TRUE(plugin.windows().postMessage(kHwndBroadcast, ifc, 2, 0));
    EXPECT_TRUE(log.empty());
    world.runUntilIdle();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ((std::vector<Hwnd>{log[0].hwnd, log[1].hwnd, log[2].hwnd}),
              (std::vector<Hwnd>{ha, hb, hc}));
}

TEST_F(SimWindows, CopyDataReceiverGetsAPrivateCopyAndTheSenderTheResult) {
    auto& host = p;
    auto& plugin = world.createProcess();
    Recorder rec(world);
    const void* seenData = nullptr;
    const CopyData* seenDesc = nullptr;
    std::vector<std::byte> seenBytes;
    rec.on[wm::kCopyData] = [&](Hwnd, WParam, LParam l) -> LResult {
        const CopyData& cd = copyDataOf(l);
        seenDesc = &cd;
        seenData = cd.lpData;
        seenBytes.assign(static_cast<const std::byte*>(cd.lpData),
                         static_cast<const std::byte*>(cd.lpData) + cd.cbData);
        // Scribbling on the copy must not reach the sender.
        std::memset(cd.lpData, 0, cd.cbData);
        return static_cast<LResult>(cd.dwData * 2);
    };
    const Hwnd target = topWindow(plugin, &rec);
    char payload[] = "status 64";
    CopyData cd{21, sizeof payload, payload};
    EXPECT_EQ(host.windows().sendMessage(target, wm::kCopyData, 0, reinterpret_cast<LParam>(&cd)),
              42);
    EXPECT_NE(seenDesc, &cd);
    EXPECT_NE(seenData, static_cast<void*>(payload));
    EXPECT_EQ(seenBytes.size(), sizeof payload);
    EXPECT_STREQ(payload, "status 64");
    // A descriptor announcing bytes it does not point to never reaches the receiver.
    seenDesc = nullptr;
    CopyData broken{21, 10, nullptr};
    EXPECT_EQ(
        host.windows().sendMessage(target, wm::kCopyData, 0, reinterpret_cast<LParam>(&broken)), 0);
    EXPECT_EQ(seenDesc, nullptr);
    EXPECT_EQ(host.windows().lastError(), err::kInvalidParameter);
    // Posting it is refused, as Windows refuses to post pointers.
    EXPECT_FALSE(
        host.windows().postMessage(target, wm::kCopyData, 0, reinterpret_cast<LParam>(&cd)));
    EXPECT_EQ(host.windows().lastError(), 1159u);
}

TEST_F(SimWindows, DestroyingAWindowTellsItThenItsChildrenAndStopsItsTimers) {
    auto& other = world.createProcess();
    std::vector<Seen> log;
    Recorder top(world, &log), kid(world, &log), owned(world, &log);
    const Hwnd ht = topWindow(p, &top);
    WindowSpec spec;
    spec.parent = ht;
    const Hwnd hk = p.windows().createWindow(spec, &kid);
    WindowSpec ownedSpec;
    ownedSpec.owner = ht;
    const Hwnd ho = p.windows().createWindow(ownedSpec, &owned);
    ASSERT_TRUE(p.windows().setTimer(ht, 1, 100));
    ASSERT_TRUE(p.windows().setTimer(hk, 2, 100));
    p.windows().postMessage(hk, wm::kUser, 0, 0);
    EXPECT_EQ(world.live().timers, 2u);
    EXPECT_FALSE(other.windows().destroyWindow(ht)) << "only the owning process may destroy";
    log.clear();
    ASSERT_TRUE(p.windows().destroyWindow(ht));
    std::vector<Hwnd> destroyed;
    for (auto& s : log)
        if (s.msg == wm::kDestroy) destroyed.push_back(s.hwnd);
    EXPECT_EQ(destroyed, (std::vector<Hwnd>{ho, ht, hk}));
    EXPECT_FALSE(p.windows().isWindow(hk));
    EXPECT_EQ(world.live().windows, 0u);
    EXPECT_EQ(world.live().timers, 0u);
    log.clear();
    world.advance(500);
    EXPECT_TRUE(log.empty()) << "no timer and no queued message outlives its window";
}

TEST_F(SimWindows, DefaultProcessingOfCloseDestroysTheWindow) {
    const Hwnd h = topWindow(p, nullptr);
    p.windows().sendMessage(h, wm::kClose, 0, 0);
    EXPECT_FALSE(p.windows().isWindow(h));
}

TEST_F(SimWindows, SubclassRefsAreStablePerProcedureAndOnlyForOwnWindows) {
    auto& other = world.createProcess();
    Recorder base(world), hook(world);
    const Hwnd h1 = topWindow(p, &base);
    const Hwnd h2 = topWindow(p, &base);
    const WndProcRef r1 = p.windows().subclassWindow(h1, &hook);
    const WndProcRef r2 = p.windows().subclassWindow(h2, &hook);
    EXPECT_NE(r1, 0u);
    EXPECT_EQ(r1, r2) << "the same procedure has one reference, like a code address";
    EXPECT_EQ(other.windows().subclassWindow(h1, &base), 0u);
    EXPECT_EQ(other.windows().lastError(), err::kAccessDenied);
    // The default procedure has a reference too, and calling it does default processing.
    const Hwnd plain = topWindow(p, nullptr);
    const WndProcRef def = p.windows().subclassWindow(plain, &hook);
    ASSERT_NE(def, 0u);
    p.windows().callWindowProc(def, plain, wm::kClose, 0, 0);
    EXPECT_FALSE(p.windows().isWindow(plain));
    EXPECT_EQ(p.windows().callWindowProc(0x1234, h1, wm::kUser, 0, 0), 0);
    EXPECT_EQ(p.windows().lastError(), err::kInvalidParameter);
}

TEST_F(SimWindows, GeometryVisibilityAndParents) {
    auto& ws = p.windows();
    WindowSpec spec;
    spec.rect = {100, 50, 500, 350};
    const Hwnd top = ws.createWindow(spec, nullptr);
    WindowSpec kidSpec;
    kidSpec.parent = top;
    kidSpec.rect = {10, 20, 110, 70};
    kidSpec.visible = true;
    const Hwnd kid = ws.createWindow(kidSpec, nullptr);
    EXPECT_EQ(ws.windowRect(kid), (Rect{110, 70, 210, 120}));
    EXPECT_FALSE(ws.isVisible(kid)) << "a hidden parent hides its children";
    ws.showWindow(top, true);
    EXPECT_TRUE(ws.isVisible(kid));
    ASSERT_TRUE(ws.setWindowPos(top, kHwndTopmost, {0, 0, 0, 0}, swp::kNoSize | swp::kNoMove));
    EXPECT_TRUE(ws.isTopmost(top));
    EXPECT_EQ(ws.windowRect(top), (Rect{100, 50, 500, 350}));
    ASSERT_TRUE(
        ws.setWindowPos(top, kHwndNoTopmost, {5, 6, 0, 0}, swp::kNoSize | swp::kHideWindow));
    EXPECT_FALSE(ws.isTopmost(top));
    EXPECT_FALSE(ws.isVisible(top));
    EXPECT_EQ(ws.windowRect(top), (Rect{5, 6, 405, 306}));
    EXPECT_EQ(ws.setParent(top, kid), 0u) << "a window cannot go below its own child";
    EXPECT_EQ(ws.setParent(kid, 0), top);
    EXPECT_EQ(ws.getParent(kid), 0u);
    EXPECT_EQ(ws.windowRect(kid), (Rect{10, 20, 110, 70}));
}

TEST_F(SimWindows, EndingAProcessRemovesItsWindowsWithoutCallingThem) {
    auto& host = p;
    auto& plugin = world.createProcess();
    Recorder hostRec(world);
    const Hwnd hostWnd = topWindow(host, &hostRec);
    int pluginCalls = 0;
    {
        Recorder pluginRec(world);
        pluginRec.on[wm::kDestroy] = [&](Hwnd, WParam, LParam) {
            ++pluginCalls;
            return 0;
        };
        const Hwnd w = topWindow(plugin, &pluginRec);
        plugin.windows().setTimer(w, 1, 20);
        host.windows().postMessage(w, wm::kUser, 0, 0);
        world.endProcess(plugin);  // its handler object may be gone after this
        EXPECT_FALSE(host.windows().isWindow(w));
    }
    EXPECT_EQ(pluginCalls, 0);
    world.advance(100);
    EXPECT_EQ(world.live().windows, 1u);
    EXPECT_EQ(world.live().timers, 0u);
    EXPECT_TRUE(host.windows().isWindow(hostWnd));
    // An ended process creates nothing more.
    EXPECT_EQ(topWindow(plugin, nullptr), 0u);
}

}  // namespace
}  // namespace quilo::sim::test
