// What only the real Windows backend has to get right, beyond the shared contract: the version
// record from our resources, real handles in 32-bit records, text conversion at the "A" calls,
// and modal loops woken by messages that other threads send.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "platform/win32/win32_platform.h"

namespace quilo::platform {
namespace {

namespace wm = platform::wm;

// Counts every message it gets in `calls`, when given.
class Answering final : public WindowHandler {
  public:
    explicit Answering(WindowSystem& ws, int* calls = nullptr) : ws_(ws), calls_(calls) {}
    LResult windowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override {
        if (calls_) ++*calls_;
        if (msg == wm::kUser + 1) return static_cast<LResult>(wParam) + 1;
        if (msg == wm::kCopyData) {
            copies.fetch_add(1);
            return 99;
        }
        if (msg == wm::kTimer && wParam == 77) timedOut = true;
        return ws_.defWindowProc(hwnd, msg, wParam, lParam);
    }
    std::atomic<int> copies{0};
    bool timedOut = false;

  private:
    WindowSystem& ws_;
    int* calls_;
};

void removeFolder(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(),
                                      static_cast<int>(wide.size()));
    if (n > 0) RemoveDirectoryW(wide.c_str());
}

TEST(Win32Backend, VersionRecordComesFromTheProgramsResources) {
    auto p = makeWin32Platform();
    const VersionInfo v = p->process().version();
    EXPECT_EQ(std::tie(v.productName, v.fileDescription, v.title, v.companyName, v.major, v.minor),
              std::tuple("Quilo Plugin", "Quilo Windows backend tests", "platform_win32_test",
                         "Quilo", QUILO_TEST_VERSION_MAJOR, QUILO_TEST_VERSION_MINOR));
    EXPECT_EQ(p->files().programName(), "platform_win32_test");
}

TEST(Win32Backend, RealWindowHandlesSurviveTheTripThroughA32BitRecord) {
    auto p = makeWin32Platform();
    auto& ws = p->windows();
    Answering handler(ws);
    const Hwnd h = ws.createWindow(WindowSpec{}, &handler);
    ASSERT_NE(h, 0u);
    const std::int32_t record = handleToRecord(h);
    const Hwnd back = handleFromRecord(record);
    EXPECT_EQ(back, h);
    EXPECT_EQ(ws.sendMessage(back, wm::kUser + 1, 41, 0), 42);
    ws.destroyWindow(h);
}

TEST(Win32Backend, NonAsciiNamesSurviveTheAnsiCalls) {
    auto p = makeWin32Platform();
    auto& files = p->files();
    const std::string folder =
        joinPath(files.tempFolder(), "QuiloBackend" + std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(files.createDirectories(joinPath(folder, "Réglages")));
    const std::string name = "Prüfbild é.txt";  // UTF-8 on our side
    const std::string path = joinPath(joinPath(folder, "Réglages"), name);
    {
        auto f = files.open(path, OpenMode::CreateNew);
        ASSERT_TRUE(f);
        const std::string text = "x";
        ASSERT_TRUE(f->write(std::as_bytes(std::span(text))));
    }
    EXPECT_TRUE(files.exists(path));
    EXPECT_EQ(files.list(joinPath(folder, "Réglages"), "*.TXT"), std::vector<std::string>{name});
    EXPECT_FALSE(files.open(path, OpenMode::CreateNew)) << "CreateNew must not replace a file";
    EXPECT_EQ(files.lastError(), err::kFileExists);
    EXPECT_TRUE(files.removeFile(path));
    removeFolder(joinPath(folder, "Réglages"));
    removeFolder(folder);
}

TEST(Win32Backend, ModalLoopWakesForAMessageAnotherThreadSends) {
    auto p = makeWin32Platform();
    auto& ws = p->windows();
    Answering handler(ws);
    const Hwnd h = ws.createWindow(WindowSpec{}, &handler);
    ASSERT_NE(h, 0u);
    // Nothing is posted and no timer runs but the safety net: only the sent message can end
    // the loop in time.
    ASSERT_TRUE(ws.setTimer(h, 77, 5000));
    std::atomic<LResult> answer{0};
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        CopyData cd{1, 0, nullptr};
        answer =
            SendMessageA(reinterpret_cast<HWND>(h), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cd));
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ws.runModalLoop([&] { return handler.copies.load() > 0 || handler.timedOut; }));
    const auto waited = std::chrono::steady_clock::now() - start;
    sender.join();
    EXPECT_FALSE(handler.timedOut) << "the loop slept through the sent message";
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    EXPECT_EQ(answer.load(), 99);
    ws.killTimer(h, 77);
    ws.destroyWindow(h);
}

// Subclassing a system control (as the forms renderer does with buttons and edit boxes): the
// previous procedure is the system's, reached through CallWindowProc, and comes back intact.
class TextSpy final : public WindowHandler {
  public:
    explicit TextSpy(WindowSystem& ws) : ws_(ws) {}
    LResult windowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override {
        if (msg == WM_SETTEXT) ++setTexts;
        if (msg == WM_GETTEXTLENGTH)
            return ws_.callWindowProc(previous, hwnd, msg, wParam, lParam) + 100;
        return ws_.callWindowProc(previous, hwnd, msg, wParam, lParam);
    }
    WndProcRef previous = 0;
    int setTexts = 0;

  private:
    WindowSystem& ws_;
};

TEST(Win32Backend, SystemControlsCanBeSubclassedAndRestored) {
    auto p = makeWin32Platform();
    auto& ws = p->windows();
    const HWND edit = CreateWindowExA(0, "EDIT", "start", WS_OVERLAPPEDWINDOW, 0, 0, 200, 50,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(edit, nullptr);
    const Hwnd h = reinterpret_cast<Hwnd>(edit);
    TextSpy spy(ws);
    spy.previous = ws.subclassWindow(h, &spy);
    ASSERT_NE(spy.previous, 0u);

    ASSERT_TRUE(ws.setWindowText(h, "Grüße"));
    EXPECT_EQ(spy.setTexts, 1);
    EXPECT_EQ(ws.windowText(h), "Grüße") << "the edit control kept the text we passed on";
    EXPECT_EQ(GetWindowTextLengthA(edit), 105) << "our level answers first";

    ASSERT_TRUE(ws.restoreWindowProc(h, spy.previous));
    EXPECT_EQ(GetWindowTextLengthA(edit), 5);
    ws.setWindowText(h, "after");
    EXPECT_EQ(spy.setTexts, 1) << "a restored level is out of the chain";
    DestroyWindow(edit);
}

// A platform that goes while its windows are open closes them without calling their handlers,
// which may be gone already.
TEST(Win32Backend, PlatformClosesItsWindowsWithoutCallingTheirHandlers) {
    Hwnd h = 0;
    int calls = 0;
    {
        auto p = makeWin32Platform();
        auto handler = std::make_unique<Answering>(p->windows(), &calls);
        h = p->windows().createWindow(WindowSpec{}, handler.get());
        ASSERT_NE(h, 0u);
        ASSERT_GT(calls, 0);
        handler.reset();  // the handler goes first, as it may in a careless shutdown
        calls = 0;
    }
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(h)));
}

}  // namespace
}  // namespace quilo::platform
