// The second process of the Windows contract runner. It owns one top-level window that records
// what reaches it and a message-only control window through which the runner drives it. It
// ends when told to or when the runner's process ends.
//
// Usage: contract_peer.exe <runner control window> <runner process id>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "peer_protocol.h"

namespace {

using namespace quilo::contract::peer_protocol;

struct PeerState {
    HWND runner = nullptr;
    HWND window = nullptr;
    HWND control = nullptr;
    LRESULT copyDataResult = 0;
    std::vector<SeenRecord> seen;
};

// Both windows find the state through their GWLP_USERDATA, set from the creation parameter.
PeerState* stateOf(HWND hwnd) {
    return reinterpret_cast<PeerState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

LRESULT attachState(HWND hwnd, LPARAM lParam) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    return TRUE;
}

// Dispatches what is queued; false once a quit message came (which stays queued).
bool pumpPending() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(m.wParam));
            return false;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return true;
}

LRESULT CALLBACK recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) attachState(hwnd, lParam);
    PeerState* state = stateOf(hwnd);
    // What a test can send: WM_COPYDATA, application messages and registered ones. The system's
    // own traffic (painting, activation) is left out.
    if (state && (msg == WM_COPYDATA || msg >= WM_USER)) {
        SeenRecord r;
        r.hwnd = reinterpret_cast<std::uint64_t>(hwnd);
        r.msg = msg;
        r.wParam = wParam;
        r.lParam = lParam;
        if (msg == WM_COPYDATA && lParam) {
            const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            r.copyCode = cds->dwData;
            const auto* p = static_cast<const std::byte*>(cds->lpData);
            if (cds->cbData) r.copyData.assign(p, p + cds->cbData);
        }
        state->seen.push_back(std::move(r));
        if (msg == WM_COPYDATA) return state->copyDataResult;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT sendCopyData(HWND target, HWND from, std::uintptr_t code, const void* data,
                     std::size_t size) {
    COPYDATASTRUCT cds{code, static_cast<DWORD>(size), const_cast<void*>(data)};
    return SendMessageA(target, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                        reinterpret_cast<LPARAM>(&cds));
}

LRESULT handleRequest(PeerState& state, const COPYDATASTRUCT& cds) {
    Reader rd(cds.lpData, cds.cbData);
    switch (cds.dwData) {
        case kTakeSeen: {
            std::uint32_t filter = 0;
            if (!rd.get(filter)) return 0;
            pumpPending();  // what is queued for the window counts as seen
            Writer w;
            std::vector<SeenRecord> kept;
            for (auto& r : state.seen) {
                if (filter == 0 || r.msg == filter)
                    writeSeen(w, r);
                else
                    kept.push_back(std::move(r));
            }
            state.seen = std::move(kept);
            sendCopyData(state.runner, state.control, kSeenList, w.bytes.data(), w.bytes.size());
            return 1;
        }
        case kSetResult: {
            std::int64_t result = 0;
            if (!rd.get(result)) return 0;
            state.copyDataResult = static_cast<LRESULT>(result);
            return 1;
        }
        case kSendCopyData: {
            std::uint64_t target = 0, code = 0;
            if (!rd.get(target) || !rd.get(code)) return 0;
            std::vector<std::byte> data;
            rd.getBytes(data, rd.left());
            return sendCopyData(reinterpret_cast<HWND>(target), state.window,
                                static_cast<std::uintptr_t>(code), data.data(), data.size());
        }
        default:
            return 0;
    }
}

LRESULT CALLBACK controlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) attachState(hwnd, lParam);
    PeerState* state = stateOf(hwnd);
    if (state && msg == WM_COPYDATA && lParam)
        return handleRequest(*state, *reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    if (msg == kQuitMessage) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND makeWindow(const char* className, WNDPROC proc, HWND parent, PeerState* state) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassExA(&wc);
    return CreateWindowExA(0, className, "contract peer", parent ? 0 : WS_OVERLAPPEDWINDOW, 0, 0,
                           200, 100, parent, nullptr, GetModuleHandleA(nullptr), state);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: contract_peer <runner window> <runner process id>\n");
        return 2;
    }
    PeerState state;
    state.runner =
        reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(argv[1], nullptr, 10)));
    const DWORD runnerPid = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    const HANDLE runner = OpenProcess(SYNCHRONIZE, FALSE, runnerPid);
    if (!runner) {
        std::fprintf(stderr, "contract_peer: runner process %lu not found\n", runnerPid);
        return 2;
    }
    state.window = makeWindow("QuiloContractPeer", recordingProc, nullptr, &state);
    state.control = makeWindow("QuiloContractPeerControl", controlProc, HWND_MESSAGE, &state);
    if (!state.window || !state.control) return 3;

    Writer hello;
    hello.put(reinterpret_cast<std::uint64_t>(state.window));
    hello.put(reinterpret_cast<std::uint64_t>(state.control));
    sendCopyData(state.runner, state.control, kHello, hello.bytes.data(), hello.bytes.size());

    // Until told to quit, or until the runner is gone: so are we then.
    while (MsgWaitForMultipleObjects(1, &runner, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0 &&
           pumpPending()) {
    }
    DestroyWindow(state.control);
    DestroyWindow(state.window);
    CloseHandle(runner);
    return 0;
}
