// TestHost.exe: a host application for the plug-in protocol. With --scenario it runs one
// scripted session and prints one line per check (exit code 0 when all passed); without it
// it opens a window with a button for every command and a log of every message.
#include <windows.h>
// windows.h first: the common controls header needs its types.
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/support/screen_input.h"
#include "e2e/support/screenshot.h"
#include "imaging/tiff.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_platform.h"
#include "test-host/decode.h"
#include "test-host/host_core.h"
#include "test-host/host_window_win32.h"
#include "test-host/scenario.h"

namespace {

using quilo::testhost::Bytes;
using quilo::testhost::HostCore;

std::string exeFolder() {
    char buf[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string p(buf);
    return p.substr(0, p.find_last_of("\\/"));
}

std::string fullPath(const std::string& path) {
    char buf[MAX_PATH * 2] = {};
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : path;
}

// Starts the plug-in program with CreateProcess and watches its exit code.
class Launcher final : public quilo::testhost::PluginLauncher {
  public:
    explicit Launcher(std::string path) : path_(std::move(path)) {}
    ~Launcher() override { closeAll(); }
    bool start(const std::string& arguments) override {
        std::string cmd = "\"" + path_ + "\"" + (arguments.empty() ? "" : " " + arguments);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back('\0');
        const std::string folder = path_.substr(0, path_.find_last_of('\\'));
        if (!CreateProcessA(path_.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.c_str(), &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        processes_.push_back(pi.hProcess);
        return true;
    }
    std::optional<int> exitCode() override {
        if (processes_.empty()) return std::nullopt;
        DWORD code = 0;
        if (WaitForSingleObject(processes_.back(), 0) != WAIT_OBJECT_0) return std::nullopt;
        GetExitCodeProcess(processes_.back(), &code);
        return static_cast<int>(code);
    }
    void kill() override {
        if (!processes_.empty()) TerminateProcess(processes_.back(), 99);
    }
    // The process id of the plug-in started last (0 when none).
    DWORD lastId() const { return processes_.empty() ? 0 : GetProcessId(processes_.back()); }
    HANDLE lastProcess() const { return processes_.empty() ? nullptr : processes_.back(); }

  private:
    void closeAll() {
        for (HANDLE h : processes_)
            CloseHandle(h);
    }
    std::string path_;
    std::vector<HANDLE> processes_;
};

// Window searches for EnumWindows and EnumChildWindows (stdcall callbacks on 32-bit Windows,
// so plain functions rather than lambdas). Captions are compared as wide text: those of other
// languages than English have letters outside ASCII.
struct ButtonSearch {
    std::wstring caption;
    HWND found = nullptr;
};
BOOL CALLBACK buttonWithCaption(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<ButtonSearch*>(p);
    wchar_t text[128] = {};
    GetWindowTextW(w, text, 128);
    if (s->caption != text || !IsWindowVisible(w) || !IsWindowEnabled(w)) return TRUE;
    s->found = w;
    return FALSE;
}

// The visible window of a process that holds a thumbnail strip (an icon-view list).
struct PreviewSearch {
    DWORD pid;
    HWND window = nullptr, strip = nullptr;
};
BOOL CALLBACK previewOfProcess(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<PreviewSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid || !IsWindowVisible(w)) return TRUE;
    HWND strip = nullptr;
    while ((strip = FindWindowExW(w, strip, WC_LISTVIEWW, nullptr)) != nullptr)
        if ((GetWindowLongW(strip, GWL_STYLE) & LVS_TYPEMASK) == LVS_ICON) break;
    if (strip == nullptr) return TRUE;
    s->window = w;
    s->strip = strip;
    return FALSE;
}

// The visible top-level windows of a process, of one class or (empty class) with a title bar
// and open to input: the dialogs a user can work in.
struct WindowsOfProcess {
    DWORD pid;
    std::string cls;
    std::vector<HWND> found;
};
BOOL CALLBACK windowOfProcess(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<WindowsOfProcess*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    const bool wanted =
        s->cls.empty()
            ? (GetWindowLongW(w, GWL_STYLE) & WS_CAPTION) == WS_CAPTION && IsWindowEnabled(w)
            : s->cls == cls;
    if (pid == s->pid && IsWindowVisible(w) && wanted) s->found.push_back(w);
    return TRUE;
}
std::vector<HWND> windowsOfProcess(DWORD pid, std::string cls = {}) {
    WindowsOfProcess search{pid, std::move(cls), {}};
    EnumWindows(windowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Every window of a process, its child windows included.
struct CountWindows {
    DWORD pid;
    std::int64_t count;
};
BOOL CALLBACK countChild(HWND, LPARAM p) {
    ++reinterpret_cast<CountWindows*>(p)->count;
    return TRUE;
}
BOOL CALLBACK countTopLevel(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<CountWindows*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid) return TRUE;
    ++s->count;
    EnumChildWindows(w, countChild, p);
    return TRUE;
}

// GDI objects read from the process's GDI handle table, for systems whose GetGuiResources does
// not count them (Wine answers ERROR_CALL_NOT_IMPLEMENTED). Wine keeps one table per process:
// 0x10000 entries of 24 bytes, pointed to from the 64-bit process environment block (the
// process's own on 64 bits, the page below the 32-bit one in a 32-bit process). An entry is live
// when its type byte is set; stock objects carry a flag and are not the process's own. -1 when
// no table is found where it should be.
std::int64_t gdiObjectsFromHandleTable(HANDLE process) {
    using QueryProcess = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryProcess>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    struct BasicInformation {
        void* exitStatus;
        char* peb;
        void* reserved[4];
    } info{};
    if (query == nullptr || query(process, 0, &info, sizeof info, nullptr) != 0 || !info.peb)
        return -1;
    constexpr std::size_t kEntries = 0x10000, kEntrySize = 24, kTableOffset = 0xf8;
    char* const blocks[] = {sizeof(void*) == 8 ? info.peb : nullptr, info.peb - 0x1000};
    for (char* block : blocks) {
        std::uint64_t table = 0;
        if (block == nullptr ||
            !ReadProcessMemory(process, block + kTableOffset, &table, sizeof table, nullptr))
            continue;
        MEMORY_BASIC_INFORMATION region{};
        const auto at = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(table));
        if (table == 0 || !VirtualQueryEx(process, at, &region, sizeof region) ||
            region.State != MEM_COMMIT || region.RegionSize < kEntries * kEntrySize)
            continue;
        std::vector<unsigned char> entries(kEntries * kEntrySize);
        if (!ReadProcessMemory(process, at, entries.data(), entries.size(), nullptr)) continue;
        std::int64_t live = 0;
        for (std::size_t e = 0; e < entries.size(); e += kEntrySize)
            if (entries[e + 14] != 0 && (entries[e + 12] & 0x80) == 0) ++live;
        return live;
    }
    return -1;
}

// The plug-in's counts as the host can read them. USER objects are -1 where the system does not
// count them (Wine); the windows are counted on their own.
quilo::testhost::ProcessCounts countsOf(HANDLE process) {
    quilo::testhost::ProcessCounts c;
    if (process == nullptr) return c;
    CountWindows windows{GetProcessId(process), 0};
    EnumWindows(countTopLevel, reinterpret_cast<LPARAM>(&windows));
    c.windows = windows.count;
    // The commit charge: PrivateUsage is not filled in under Wine, PagefileUsage is the same
    // figure on Windows.
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(process, &memory, sizeof memory) && memory.PagefileUsage != 0)
        c.privateBytes = static_cast<std::int64_t>(memory.PagefileUsage);
    auto gui = [process](DWORD kind) -> std::int64_t {
        SetLastError(0);
        const DWORD n = GetGuiResources(process, kind);
        return n == 0 && GetLastError() != 0 ? -1 : static_cast<std::int64_t>(n);
    };
    c.userObjects = gui(GR_USEROBJECTS);
    c.gdiObjects = gui(GR_GDIOBJECTS);
    if (c.gdiObjects < 0) c.gdiObjects = gdiObjectsFromHandleTable(process);
    return c;
}

// The soak's scanner: a copy of the staged scanner configuration that feeds `plates` plates per
// activation, a little under a second apart; the plug-in started from here reads it through
// the variable its scanner library looks at. Both go when the soak ends.
class SoakScanner {
  public:
    SoakScanner(const std::string& plugin, int plates) {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "quilo-soak-" + std::to_string(GetCurrentProcessId()) + ".ini";
        const std::string staged = plugin.substr(0, plugin.find_last_of('\\')) + "\\OrvaneEx.ini";
        CopyFileA(staged.c_str(), path_.c_str(), FALSE);
        const std::pair<const char*, std::string> behaviour[] = {
            {"Plates", std::to_string(plates)}, {"FirstPlateMs", "300"}, {"PlateIntervalMs", "800"},
            {"TransportStartMs", "100"},        {"ReadMs", "300"},       {"EjectMs", "100"}};
        for (const auto& [key, value] : behaviour)
            WritePrivateProfileStringA("Behaviour", key, value.c_str(), path_.c_str());
        SetEnvironmentVariableA("ORVANE_SIM_INI", path_.c_str());
    }
    ~SoakScanner() {
        SetEnvironmentVariableA("ORVANE_SIM_INI", nullptr);
        DeleteFileA(path_.c_str());
    }
    SoakScanner(const SoakScanner&) = delete;
    SoakScanner& operator=(const SoakScanner&) = delete;

  private:
    std::string path_;
};

// What a user does on the screen: real mouse clicks and key presses through the system's input
// queue, and screenshots of the plug-in's windows.
class ScreenInput {
  protected:
    ScreenInput(HostCore& host, const Launcher& launcher, std::string shots)
        : host_(host), launcher_(launcher), shots_(std::move(shots)) {}

    // Lets the plug-in work off the input and repaint, pumping this host's messages meanwhile.
    void settle(DWORD ms) {
        const DWORD until = GetTickCount() + ms;
        host_.waitUntil([&] { return GetTickCount() >= until; }, ms + 500);
    }
    // A real click in `window`: the pointer moves to (x, y) of `target`, the button goes down
    // and up.
    void clickAt(HWND window, HWND target, int x, int y) {
        SetForegroundWindow(window);
        quilo::e2e::leftClick(target, x, y, [this](const std::function<bool()>& done) {
            host_.waitUntil(done, 1000);
        });
        // Past the double-click time, so the next click is a click of its own.
        settle(GetDoubleClickTime() + 150);
    }
    // A click on the middle of the enabled control with that caption in `window`.
    bool clickCaption(HWND window, const std::string& caption) {
        ButtonSearch search{quilo::platform::win32::utf8ToWide(caption)};
        EnumChildWindows(window, buttonWithCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) return false;
        RECT rc{};
        GetClientRect(search.found, &rc);
        clickAt(window, search.found, rc.right / 2, rc.bottom / 2);
        return true;
    }
    void key(HWND window, WORD vk) {
        SetForegroundWindow(window);
        INPUT in[2]{};
        for (INPUT& e : in) {
            e.type = INPUT_KEYBOARD;
            e.ki.wVk = vk;
        }
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, in, sizeof(INPUT));
        settle(300);
    }
    void shot(HWND window, const std::string& name) {
        if (shots_.empty() || window == nullptr) return;
        settle(800);
        const std::string path = shots_ + "\\" + name + ".png";
        const bool saved = quilo::e2e::writePng(
            quilo::e2e::captureWindow(reinterpret_cast<quilo::platform::Hwnd>(window)), path);
        std::printf("# screenshot %s: %s\n", path.c_str(), saved ? "saved" : "FAILED");
    }

    HostCore& host_;
    const Launcher& launcher_;

  private:
    std::string shots_;
};

// The plug-in's preview window as a user reaches it: found on the screen among the plug-in
// process's windows (the one with a thumbnail strip), driven with real mouse input.
class ScreenPreview final : public quilo::testhost::PreviewDriver, ScreenInput {
  public:
    ScreenPreview(HostCore& host, const Launcher& launcher, std::string shots)
        : ScreenInput(host, launcher, std::move(shots)) {}

    bool waitWindow(std::uint32_t timeoutMs) override {
        return host_.waitUntil([&] { return find(); }, timeoutMs);
    }
    int thumbnails() override {
        return find() ? static_cast<int>(SendMessageW(strip_, LVM_GETITEMCOUNT, 0, 0)) : 0;
    }
    bool clickThumbnail(int i) override {
        if (!find()) return false;
        SendMessageW(strip_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(i), FALSE);
        RECT rc{};
        if (!itemRect(i, rc)) return false;
        clickAt(window_, strip_, (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        return true;
    }
    bool clickButton(const std::string& caption) override {
        return find() && clickCaption(window_, caption);
    }
    void screenshot(const std::string& name) override {
        if (find()) shot(window_, name);
    }

  private:
    bool find() {
        if (window_ != nullptr && IsWindowVisible(window_)) return true;
        PreviewSearch search{launcher_.lastId()};
        EnumWindows(previewOfProcess, reinterpret_cast<LPARAM>(&search));
        window_ = search.window;
        strip_ = search.strip;
        return window_ != nullptr;
    }
    // The item's icon rectangle, asked across the process boundary through memory of the
    // plug-in's process.
    bool itemRect(int i, RECT& out) {
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                                     FALSE, launcher_.lastId());
        if (process == nullptr) return false;
        void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
        RECT rc{};
        rc.left = LVIR_ICON;
        bool ok = remote != nullptr &&
                  WriteProcessMemory(process, remote, &rc, sizeof rc, nullptr) &&
                  SendMessageW(strip_, LVM_GETITEMRECT, static_cast<WPARAM>(i),
                               reinterpret_cast<LPARAM>(remote)) != 0 &&
                  ReadProcessMemory(process, remote, &out, sizeof out, nullptr);
        if (remote != nullptr) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        CloseHandle(process);
        return ok;
    }

    HWND window_ = nullptr;
    HWND strip_ = nullptr;
};

// The plug-in's modal dialogs on the screen: the one a user works in is the only window of the
// plug-in's process with a title bar that takes input (a modal dialog disables its owners).
class ScreenDialogs final : public quilo::testhost::DialogDriver, ScreenInput {
  public:
    ScreenDialogs(HostCore& host, const Launcher& launcher, std::string shots)
        : ScreenInput(host, launcher, std::move(shots)) {}

    std::optional<std::string> waitDialog(std::uint32_t timeoutMs) override {
        const HWND before = dialog_;
        if (!host_.waitUntil(
                [&] {
                    const std::vector<HWND> open = windowsOfProcess(launcher_.lastId());
                    dialog_ = open.size() == 1 ? open[0] : nullptr;
                    return dialog_ != nullptr && dialog_ != before;
                },
                timeoutMs))
            return std::nullopt;
        settle(300);
        char caption[256] = {};
        GetWindowTextA(dialog_, caption, sizeof caption);
        return std::string(caption);
    }
    bool click(const std::string& caption) override {
        return dialog_ != nullptr && clickCaption(dialog_, caption);
    }
    bool choose(const std::string& line) override {
        const HWND combo = comboWith(line);
        if (combo == nullptr) return false;
        const auto index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(wide(line).c_str()));
        RECT rc{};
        GetClientRect(combo, &rc);
        clickAt(dialog_, combo, rc.right / 2, rc.bottom / 2);  // the list drops down
        const std::vector<HWND> lists = windowsOfProcess(launcher_.lastId(), "ComboLBox");
        if (lists.size() != 1) return false;
        const auto top = SendMessageW(lists[0], LB_GETTOPINDEX, 0, 0);
        const auto height = SendMessageW(lists[0], LB_GETITEMHEIGHT, 0, 0);
        GetClientRect(lists[0], &rc);
        const auto y = static_cast<int>((index - top) * height + height / 2);
        if (index < top || y >= rc.bottom) return false;  // not in sight without scrolling
        clickAt(dialog_, lists[0], rc.right / 2, y);
        return SendMessageW(combo, CB_GETCURSEL, 0, 0) == index;
    }
    bool press(Key k) override {
        if (dialog_ == nullptr) return false;
        key(dialog_, k == Key::Enter ? VK_RETURN : VK_ESCAPE);
        return true;
    }
    void screenshot(const std::string& name) override { shot(dialog_, name); }

  private:
    static std::wstring wide(const std::string& text) { return {text.begin(), text.end()}; }
    // The visible drop-down of the dialog that holds that line.
    HWND comboWith(const std::string& line) {
        HWND combo = nullptr;
        while ((combo = FindWindowExW(dialog_, combo, L"ComboBox", nullptr)) != nullptr) {
            if (IsWindowVisible(combo) &&
                SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(wide(line).c_str())) != CB_ERR)
                return combo;
        }
        return nullptr;
    }

    HWND dialog_ = nullptr;
};

std::string profile(const std::string& ini, const char* section, const char* key) {
    char buf[512] = {};
    GetPrivateProfileStringA(section, key, "", buf, sizeof buf, ini.c_str());
    return buf;
}

// What the plug-in must report, from the scanner library's configuration beside it and from
// this program's own version record (both programs carry the same one).
quilo::testhost::Expectations expectations(quilo::platform::Platform& p,
                                           const std::string& plugin) {
    quilo::testhost::Expectations e;
    const quilo::platform::VersionInfo v = p.process().version();
    e.productText = v.productName + " ver: " + std::to_string(v.major) + "." +
                    std::to_string(v.minor) + "(." + std::to_string(v.revision) + ")";
    e.programPath = plugin;
    const std::string ini = plugin.substr(0, plugin.find_last_of('\\')) + "\\OrvaneEx.ini";
    e.maker = profile(ini, "Scanner", "Maker");
    e.model = profile(ini, "Scanner", "Model");
    e.serial = profile(ini, "Scanner", "Serial");
    const int count = std::atoi(profile(ini, "Scanner", "ParamCount").c_str());
    for (int i = 1; i <= count; ++i) {
        const std::string section = "Param" + std::to_string(i);
        const std::string kind = profile(ini, section.c_str(), "Kind");
        quilo::testhost::Expectations::Set s;
        s.name = profile(ini, section.c_str(), "Name");
        s.kind = kind == "cephalometric" ? 5 : kind == "panoramic" ? 4 : 1;
        e.sets.push_back(s);
    }
    // With no set marked as a tool in the registry (a fresh installation), the scanner
    // connection offers the first set as one and makes it the current set.
    if (!e.sets.empty()) e.sets[0].tool = true;
    e.defaultSet = 1;
    return e;
}

int runScenario(const std::string& name, const std::string& plugin, const std::string& shots,
                const std::string& images) {
    auto platform = quilo::platform::makeWin32Platform();
    HostCore host(*platform);
    // With --images, the scenario's received images are kept as files (IMG0001.tif, ...).
    if (!images.empty()) host.setImageFolder(images);
    // Every message from a plug-in is printed as it arrives, decoded.
    host.onReceived = [](const quilo::testhost::Received& r) {
        std::printf("# < %s\n", quilo::testhost::decodeRecord(r.code, r.data).c_str());
    };
    Launcher launcher(plugin);
    quilo::testhost::ScenarioOptions options;
    if (!shots.empty()) {
        options.screenshot = [&](const std::string& shot, quilo::platform::Hwnd window) {
            // Give the plug-in's window a moment to paint, pumping meanwhile.
            const DWORD until = GetTickCount() + 1500;
            host.waitUntil([&] { return GetTickCount() >= until; }, 2000);
            const std::string path = shots + "\\" + shot + ".png";
            const bool saved = quilo::e2e::writePng(quilo::e2e::captureWindow(window), path);
            std::printf("# screenshot %s: %s\n", path.c_str(), saved ? "saved" : "FAILED");
        };
    }
    // A message box of the plug-in's: found among the top-level dialogs of its process, its text
    // read, and Yes or No pressed.
    options.answerQuestion = [&](bool yes) {
        HWND box = nullptr;
        std::string text;
        host.waitUntil(
            [&] {
                const std::vector<HWND> boxes = windowsOfProcess(launcher.lastId(), "#32770");
                box = boxes.empty() ? nullptr : boxes[0];
                return box != nullptr;
            },
            20000);
        if (box == nullptr) return text;
        char buf[1024] = {};
        GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
        text = buf;
        PostMessageA(box, WM_COMMAND, yes ? IDYES : IDNO, 0);
        return text;
    };
    options.processCounts = [&launcher] { return countsOf(launcher.lastProcess()); };
    quilo::testhost::Scenario scenario(
        host, launcher,
        [](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        },
        options);
    int failures = 0;
    if (name == "lifecycle") {
        failures = scenario.lifecycle(expectations(*platform, plugin));
    } else if (name == "testmode") {
        failures = scenario.testMode();
    } else if (name == "watchdog") {
        failures = scenario.watchdog();
    } else if (name == "capture") {
        // Three plates from the simulated scanner, imported at once, two acknowledged.
        quilo::testhost::Scenario::CaptureRun run;
        run.text1 = "Intraoral size 2 (#1)";
        run.acknowledge = 2;  // the third is offered for saving at the end
        failures = scenario.capture(run);
        if (!shots.empty()) quilo::testhost::shootHostWindow(host, shots + "\\capture-host.png");
    } else if (name == "preview") {
        // Three plates into the preview window; the user chooses the first and the third.
        quilo::testhost::Scenario::CaptureRun run;
        run.text1 = "Intraoral size 2 (#1)";
        ScreenPreview ui(host, launcher, shots);
        failures = scenario.preview(run, ui);
    } else if (name == "setup") {
        ScreenDialogs ui(host, launcher, shots);
        failures = scenario.setup(ui);
    } else if (name == "recovery") {
        quilo::testhost::Scenario::CaptureRun run;
        failures = scenario.recovery(run);
    } else if (name == "soak") {
        quilo::testhost::Scenario::SoakRun run;
        SoakScanner scanner(plugin, run.plates);
        failures = scenario.soak(run);
    } else if (name == "simulated") {
        // The sensor above the scanner's sets: the test image, without the scanner.
        quilo::testhost::Scenario::CaptureRun run;
        run.sensor = static_cast<std::int32_t>(expectations(*platform, plugin).sets.size()) + 1;
        run.images = 1;
        run.acknowledge = 1;
        run.text1 = "Test image.";
        failures = scenario.capture(run);
    } else {
        std::printf(
            "unknown scenario %s (lifecycle, testmode, watchdog, capture, preview, setup, "
            "recovery, simulated, soak)\n",
            name.c_str());
        return 2;
    }
    std::printf("%s: %d failed\n", name.c_str(), failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenario, shots, show;
    std::string plugin = exeFolder() + "\\Quilo\\QuiloPlugin.exe";
    std::string images = exeFolder() + "\\ReceivedImages";
    bool imagesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--scenario" && i + 1 < argc)
            scenario = argv[++i];
        else if (a == "--plugin" && i + 1 < argc)
            plugin = argv[++i];
        else if (a == "--shots" && i + 1 < argc)
            shots = argv[++i];
        else if (a == "--images" && i + 1 < argc)
            images = argv[++i], imagesGiven = true;
        else if (a == "--show" && i + 1 < argc)
            show = argv[++i];
        else {
            std::printf(
                "usage: TestHost [--plugin PATH] [--scenario "
                "lifecycle|testmode|watchdog|capture|preview|setup|simulated] "
                "[--shots FOLDER] [--images FOLDER] [--show FILE.tif]\n");
            return 2;
        }
    }
    plugin = fullPath(plugin);
    if (!scenario.empty()) return runScenario(scenario, plugin, shots, imagesGiven ? images : "");
    return quilo::testhost::runInteractive(std::make_unique<Launcher>(plugin), images,
                                           show.empty() ? show : fullPath(show));
}
