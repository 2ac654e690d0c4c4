// The contract suite's environment on real Windows: the platform is makeWin32Platform(), time
// is real time, and the peer is a second process (contract_peer.exe, built beside this test)
// driven over window messages.
#include <windows.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "contract_env.h"
#include "peer_protocol.h"
#include "platform/win32/win32_platform.h"

namespace quilo::contract {
namespace {

using namespace peer_protocol;
using platform::Hwnd;

// Waits for input or `ms` milliseconds, whichever comes first, then dispatches what came.
bool pumpSome(platform::WindowSystem& ws, DWORD ms) {
    MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return ws.pumpPending();
}

// The environment is also the peer's proxy: its requests go to the peer's control window.
class Win32ContractEnv final : public ContractEnv, public Peer, public platform::WindowHandler {
  public:
    Win32ContractEnv() : platform_(platform::makeWin32Platform()) {
        platform::WindowSpec spec;
        spec.title = "contract runner";
        control_ = platform_->windows().createWindow(spec, this);
        if (!control_) throw std::runtime_error("the runner's control window was not created");
        char temp[MAX_PATH + 1];
        GetTempPathA(sizeof temp, temp);
        scratchFolder_ =
            std::string(temp) + "QuiloContract" + std::to_string(GetCurrentProcessId());
        removeTree(scratchFolder_);
        CreateDirectoryA(scratchFolder_.c_str(), nullptr);
        scratchKey_ = "Software\\QuiloContract\\Run" + std::to_string(GetCurrentProcessId());
        deleteScratchKeys();
    }

    ~Win32ContractEnv() override {
        stopPeer();
        deleteScratchKeys();
        removeTree(scratchFolder_);
        platform_->windows().destroyWindow(control_);
    }

    platform::Platform& platform() override { return *platform_; }
    Peer& peer() override {
        if (!peerProcess_) startPeer();
        return *this;
    }

    Hwnd window() override { return peerWindow_; }
    std::vector<SeenMessage> takeSeen(platform::MsgId msg) override {
        Writer w;
        w.put(static_cast<std::uint32_t>(msg));
        if (!request(kTakeSeen, w)) throw std::runtime_error("the peer did not answer");
        return std::move(lastSeen_);
    }
    void setCopyDataResult(platform::LResult result) override {
        Writer w;
        w.put(static_cast<std::int64_t>(result));
        request(kSetResult, w);
    }
    platform::LResult sendCopyData(Hwnd target, std::uintptr_t code,
                                   const std::vector<std::byte>& data) override {
        Writer w;
        w.put(static_cast<std::uint64_t>(target));
        w.put(static_cast<std::uint64_t>(code));
        w.putBytes(data.data(), data.size());
        return request(kSendCopyData, w);
    }

    void pumpFor(std::uint32_t ms) override {
        auto& ws = platform_->windows();
        const DWORD start = GetTickCount();
        if (!ws.pumpPending()) return;
        for (;;) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= ms) return;
            if (!pumpSome(ws, ms - spent)) return;
        }
    }

    std::string scratchKey() override { return scratchKey_; }
    std::string scratchFolder() override { return scratchFolder_; }

    // The control window: the peer's hello and its lists of seen messages arrive here.
    platform::LResult windowProc(Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                                 platform::LParam lParam) override {
        if (msg == WM_COPYDATA && lParam) {
            const auto& cds = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            Reader rd(cds.lpData, cds.cbData);
            if (cds.dwData == kHello) {
                std::uint64_t window = 0, control = 0;
                if (rd.get(window) && rd.get(control)) {
                    peerWindow_ = static_cast<Hwnd>(window);
                    peerControl_ = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(control));
                }
                return 1;
            }
            if (cds.dwData == kSeenList) {
                lastSeen_.clear();
                SeenRecord r;
                while (rd.left() && readSeen(rd, r))
                    lastSeen_.push_back(SeenMessage{
                        static_cast<Hwnd>(r.hwnd), r.msg, static_cast<platform::WParam>(r.wParam),
                        static_cast<platform::LParam>(r.lParam), r.copyData,
                        static_cast<std::uintptr_t>(r.copyCode)});
                return 1;
            }
        }
        return platform_->windows().defWindowProc(hwnd, msg, wParam, lParam);
    }

  private:
    // Sends one request to the peer's control window and returns its answer.
    LRESULT request(Op op, const Writer& w) {
        COPYDATASTRUCT cds{op, static_cast<DWORD>(w.bytes.size()),
                           const_cast<std::byte*>(w.bytes.data())};
        return SendMessageA(peerControl_, WM_COPYDATA, reinterpret_cast<WPARAM>(control_),
                            reinterpret_cast<LPARAM>(&cds));
    }

    void startPeer() {
        char self[MAX_PATH + 1] = {};
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string exe = self;
        exe.erase(exe.find_last_of('\\') + 1);
        exe += "contract_peer.exe";
        std::string command = "\"" + exe + "\" " + std::to_string(control_) + " " +
                              std::to_string(GetCurrentProcessId());
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &si, &pi))
            throw std::runtime_error("cannot start " + exe + ": error " +
                                     std::to_string(GetLastError()));
        CloseHandle(pi.hThread);
        peerProcess_ = pi.hProcess;
        const DWORD start = GetTickCount();
        while (!peerControl_ && GetTickCount() - start < 20000) {
            if (WaitForSingleObject(peerProcess_, 0) == WAIT_OBJECT_0)
                throw std::runtime_error("the contract peer ended before it said hello");
            pumpSome(platform_->windows(), 50);
        }
        if (!peerControl_) throw std::runtime_error("the contract peer did not say hello");
    }

    void stopPeer() {
        if (!peerProcess_) return;
        if (peerControl_) PostMessageA(peerControl_, kQuitMessage, 0, 0);
        if (WaitForSingleObject(peerProcess_, 5000) != WAIT_OBJECT_0)
            TerminateProcess(peerProcess_, 1);
        CloseHandle(peerProcess_);
        peerProcess_ = nullptr;
    }

    void deleteScratchKeys() {
        auto& reg = platform_->registry();
        reg.deleteTree(platform::RegRoot::CurrentUser, scratchKey_);
        reg.deleteTree(platform::RegRoot::LocalMachine, scratchKey_);
    }

    static void removeTree(const std::string& folder) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::unique_ptr<platform::Platform> platform_;
    Hwnd control_ = 0;
    std::string scratchKey_;
    std::string scratchFolder_;
    HANDLE peerProcess_ = nullptr;
    Hwnd peerWindow_ = 0;
    HWND peerControl_ = nullptr;
    std::vector<SeenMessage> lastSeen_;
};

}  // namespace

// The one environment of this test program, made on first use and torn down (peer, scratch
// key and folder) when the program ends.
ContractEnv& contractEnv() {
    static Win32ContractEnv env;
    return env;
}

}  // namespace quilo::contract
