// The capture road against a scanner library whose answers come from the input: status words,
// image names, image-information records, raw blocks of any size and content (a real TIFF of
// any shape and depth, bytes that are none, a byte count that lies about its block), preview
// pictures, and the host's ImageStored ids (the right ones, repeated, out of order or made up).
// The plug-in must neither crash nor hang, and once a capture has been stopped, its images
// acknowledged and its preview window closed, it holds no more memory blocks, handles, windows,
// timers or temporary files than before.
//
// One world and one plug-in process serve every input (building them costs far more than an
// input): each input is one activation with its own settings, a run of timer ticks, the
// acknowledgements and the stop. What the harness itself keeps (the library's image numbers,
// the host's received messages), the world's records of message boxes and sounds, and the
// plates left in the spool start afresh with each input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "controller/frm_main.h"
#include "controller/plugin_process.h"
#include "demo/install.h"
#include "fuzz/support/fuzz_input.h"
#include "fuzz/support/fuzz_world.h"
#include "host/xray_ifc.h"
#include "orvane-sim/tiff_lite.h"
#include "platform/sim/world.h"
#include "scanner/orvane_abi.h"
#include "scanner/scanner_library.h"
#include "test-host/host_core.h"
#include "ui/dlg_box.h"

namespace {

using namespace quilo;
using scanner::abi::HandleOut;
using scanner::abi::Long;
namespace abi = scanner::abi;
namespace status = scanner::status;
namespace cmd = host::cmd;

// A check of the harness: when it fails, the line says which one before the run ends.
void require(bool ok, unsigned line = __builtin_LINE()) {
    if (ok) return;
    std::fprintf(stderr, "check failed at line %u\n", line);
    std::abort();
}

// The input, with the answers of the library's calls read from it.
class Input : public test::FuzzInput {
  public:
    // A library result: mostly success, sometimes one of the codes the road knows, now and
    // then any value.
    Long result() {
        const std::uint8_t b = byte();
        if (b < 160) return 0;
        if (b < 250) {
            const Long known[] = {-1, -2, -4, -5, -6, -7, -90, -99, -102, -200, -10001, 1};
            return known[b % 12];
        }
        return static_cast<Long>(u32());
    }
};

// The library's side: what its exports answer, and the blocks it owns.
struct Library {
    Input in;
    sim::SimProcess* process = nullptr;
    platform::HGlobal preview = 0;  // the library's until its next preview call
    int imageNumber = 0;

    platform::HGlobal give(const std::byte* bytes, std::size_t size) {
        auto& mem = process->memory();
        const platform::HGlobal h = mem.alloc(platform::gmem::kMoveableZeroed, size);
        if (h == 0) return 0;
        if (void* p = mem.lock(h)) {
            if (size) std::memcpy(p, bytes, size);
            mem.unlock(h);
        }
        return h;
    }
    void freePreview() {
        if (preview) process->memory().free(preview);
        preview = 0;
    }
    // A block: a grey TIFF of a shape, depth and resolution the input chooses, or plain bytes.
    // Its pixels span the whole range of the depth, or (mostly) a band of 256 values as a
    // plate's do: the enhancement's cost grows with the range, and a narrow one lets the
    // target run several times as many inputs.
    std::vector<std::byte> block() {
        const std::uint8_t mode = in.byte();
        if (mode % 4 != 0) {
            const int w = 1 + in.byte() % 48, h = 1 + in.byte() % 48;
            const int bits = (mode & 4) ? 8 : 16;
            std::vector<std::uint16_t> pixels(static_cast<std::size_t>(w) * h);
            const std::uint32_t top = bits == 8 ? 0xFF : 0xFFFF;
            const bool wide = (mode & 0x38) == 0;
            const std::uint32_t base = wide ? 0 : std::min(top - 0xFF, in.byte() * 257u);
            for (auto& p : pixels)
                p = static_cast<std::uint16_t>(wide ? (in.byte() * 257u) & top : base + in.byte());
            return orvanesim::writeGreyTiff(w, h, bits, pixels, 100.0 + in.byte() * 10.0);
        }
        std::vector<std::byte> raw(in.byte() * 4u);
        for (auto& b : raw)
            b = static_cast<std::byte>(in.byte());
        return raw;
    }
    // A byte count: mostly the block's own, sometimes more, less or nonsense.
    Long count(std::size_t size) {
        switch (in.byte() % 8) {
            case 0:
                return static_cast<Long>(size) + in.byte();
            case 1:
                return static_cast<Long>(size / 2);
            case 2:
                return static_cast<Long>(in.u32());
            default:
                return static_cast<Long>(size);
        }
    }
};

Library& lib() {
    static Library l;
    return l;
}

// Fills a caller's text buffer; the call succeeds.
Long text(char* buffer, std::size_t capacity, const std::string& s) {
    std::memset(buffer, 0, capacity);
    std::memcpy(buffer, s.data(), std::min(s.size(), capacity - 1));
    return 0;
}

// The exports. Set-up calls answer as a working scanner does unless the input says otherwise.
struct Exports {
    static Long Init_Dll(const char*) { return 0; }
    static Long Get_IniFileName(char* b) {
        return text(b, abi::kTextBuffer, "C:\\Program Files\\Kelvora\\Quilo\\OrvaneEx.ini");
    }
    static Long Set_IniFileName(const char*) { return 0; }
    static Long Get_Paramcount() { return 3; }
    static Long Get_Paramname(char* b, Long n) {
        text(b, abi::kTextBuffer, "Set " + std::to_string(n));
        return n >= 1 && n <= 3 ? 0 : -2;
    }
    static Long Open_Scanner(Long) { return lib().in.result(); }
    static Long Set_Prescanmode(Long) { return 0; }
    static Long Get_Serialnumber(char* b) { return text(b, abi::kTextBuffer, "F-0001"); }
    static Long Get_DriverVersion(char* b) { return text(b, abi::kTextBuffer, "1.0"); }
    static Long Set_ImageExtraHeader(Long, Long) { return 0; }
    static Long Aktivate_Scanner() { return lib().in.result(); }
    static Long Get_Status() {
        Input& in = lib().in;
        const std::uint8_t b = in.byte();
        const Long t = status::kTransport, p = status::kPreview;
        const Long words[] = {0, t, t | p, t | p | status::kSlot2, 1, t | 1, -5, -200};
        return b < 200 ? words[b % 8] : static_cast<Long>(in.u32());
    }
    static Long GetPrescanImage(HandleOut* picture, Long* bytes) {
        Library& l = lib();
        l.freePreview();
        const Long r = l.in.result();
        const auto b = l.block();
        l.preview = l.give(b.data(), b.size());
        *picture = static_cast<HandleOut>(l.preview);
        *bytes = l.count(b.size());
        return r;
    }
    static Long ClearPrescanImage() {
        lib().freePreview();
        return 0;
    }
    static Long Get_ImageName(char* b) {
        Library& l = lib();
        std::string name = "IMG" + std::to_string(++l.imageNumber);
        if (l.in.byte() > 240) name = std::string(l.in.byte(), static_cast<char>(l.in.byte()));
        text(b, abi::kImageNameBuffer, name);
        return l.in.byte() < 230 ? 1 : 0;
    }
    static Long Get_ImageInfo(const char*, unsigned char* record) {
        Input& in = lib().in;
        std::memset(record, 0, abi::kImageInfoBytes);
        auto put = [&](int at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i)
                record[at + i] = static_cast<unsigned char>(v >> (8 * i));
        };
        if (in.byte() < 200) {
            put(4, in.byte() % 64);
            put(8, in.byte() % 64);
            put(12, 10000u + in.byte() * 200u);
            put(16, 10000u + in.byte() * 200u);
            record[20] = in.byte() < 128 ? 16 : in.byte();
        } else {
            for (int i = 0; i < abi::kImageInfoBytes; ++i)
                record[i] = in.byte();
        }
        return in.result();
    }
    static Long GetRawImage(const char*, Long, Long, HandleOut* image, Long* bytes, Long, Long,
                            Long, Long) {
        Library& l = lib();
        const Long r = l.in.result();
        const auto b = l.block();
        const platform::HGlobal h = l.give(b.data(), b.size());
        if (r != 0 && h != 0 && l.in.byte() < 128) {
            // A failing call that leaves nothing behind.
            l.process->memory().free(h);
            *image = 0;
        } else {
            *image = static_cast<HandleOut>(h);  // the caller's from now on
        }
        *bytes = l.count(b.size());
        return r;
    }
    static Long Delete_Image(const char*) { return lib().in.result(); }
    static Long Deaktivate_Scanner() { return 0; }
    static Long Close_Scanner() { return ClearPrescanImage(); }

    // The library: each function under its own name, and every name the binding resolves there.
    static sim::SimLibrary library() {
#define EXPORT(f) {#f, reinterpret_cast<void*>(f)}
        sim::SimLibrary s{"OrvaneEx.dll", {EXPORT(Init_Dll),           EXPORT(Get_IniFileName),
                                           EXPORT(Set_IniFileName),    EXPORT(Get_Paramcount),
                                           EXPORT(Get_Paramname),      EXPORT(Open_Scanner),
                                           EXPORT(Set_Prescanmode),    EXPORT(Get_Serialnumber),
                                           EXPORT(Get_DriverVersion),  EXPORT(Set_ImageExtraHeader),
                                           EXPORT(Aktivate_Scanner),   EXPORT(Get_Status),
                                           EXPORT(GetPrescanImage),    EXPORT(ClearPrescanImage),
                                           EXPORT(Get_ImageName),      EXPORT(Get_ImageInfo),
                                           EXPORT(GetRawImage),        EXPORT(Delete_Image),
                                           EXPORT(Deaktivate_Scanner), EXPORT(Close_Scanner)}};
#undef EXPORT
        for (const char* name : abi::kExportNames)
            require(s.exports.count(name) == 1);
        return s;
    }
};

struct Road {
    sim::World world{test::filesInMemory()};
    sim::SimProcess& hostProcess =
        world.createProcess({.exePath = "C:\\Program Files\\Kelvora\\Kelvora3.exe"});
    testhost::HostCore host{hostProcess, "Kelvora 3"};
    sim::SimProcess* pluginProcess = nullptr;
    std::unique_ptr<controller::PluginProcess> plugin;

    Road() {
        demo::install(hostProcess.files());
        world.registerLibrary(Exports::library());
        pluginProcess = &world.createProcess();
        lib().process = pluginProcess;
        plugin = std::make_unique<controller::PluginProcess>(*pluginProcess);
        require(plugin->start());
        // Every message box the road shows is read and closed by the user.
        plugin->forms().onFormLoad = [this](forms::Form& f) {
            if (f.name() == "frmDlgBox") closeWhenShown(static_cast<ui::frmDlgBox*>(&f));
        };
        world.runUntilIdle();
        send(cmd::kInitializePlugin, testhost::handleBytes(host.hwnd()));
        require(plugin->plugin() != nullptr && plugin->plugin()->Initialized());
        // The image work on the calling thread: the fuzzer's jobs keep every core busy already,
        // a plate's strips give the same result on any number of threads, and handing a small
        // plate's strips to other threads cost more than the work.
        require(plugin->enhancement() != nullptr);
        plugin->enhancement()->setThreads(1);
        plugin->imageHandler().setThreads(1);
    }
    void closeWhenShown(ui::frmDlgBox* box) {
        world.after(1, [this, box] {
            if (!box->visible()) return closeWhenShown(box);
            box->OKButton.click();
        });
    }
    void send(std::int32_t c, const testhost::Bytes& data) {
        host.send(plugin->mainForm()->hwnd(), c, data);
        world.runUntilIdle();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Road road;
    Library& l = lib();
    l.in.reset(data, size);
    l.imageNumber = 0;
    road.host.take();
    road.pluginProcess->forgetRecords();
    Input& in = l.in;
    settings::PluginSettings& s = road.plugin->settings().settings();
    s.NoPreview = static_cast<std::int16_t>(in.byte() % 3);
    s.ImageEnhancement = in.byte() % 4;
    const std::int16_t depths[] = {8, 12, 16};
    s.BitDepth = depths[in.byte() % 3];
    const sim::LiveCounts before = road.world.live();
    platform::Files& files = road.pluginProcess->files();
    const auto temporaryFiles = [&] { return files.list(files.tempFolder(), "*.tmp").size(); };
    const std::size_t temporaryBefore = temporaryFiles();

    road.send(cmd::kActivateCapture,
              testhost::int32Bytes(static_cast<std::int32_t>(in.byte() % 5)));
    for (int tick = 0; tick < 64 && !in.empty(); ++tick)
        road.world.advance(1 + in.byte() % 16);
    // The host acknowledges what it received, in the order (and with the extra ids) the input
    // chooses; then the capture stops and the preview window, if any, is closed.
    std::vector<std::int32_t> ids;
    for (const auto& m : road.host.received())
        if (m.code == cmd::kImageCapturedEx && m.data.size() >= 8) {
            std::int32_t id = 0;
            std::memcpy(&id, m.data.data() + 4, 4);
            ids.push_back(id);
        }
    for (std::size_t k = 0; k < ids.size(); ++k)
        std::swap(ids[k], ids[in.byte() % ids.size()]);
    for (std::int32_t id : ids) {
        if (in.byte() > 240) road.send(cmd::kImageStored, testhost::int32Bytes(in.u32()));
        road.send(cmd::kImageStored, testhost::int32Bytes(id));
    }
    road.send(cmd::kStopCapture, testhost::handleBytes(road.host.hwnd()));
    if (auto* preview = road.plugin->forms().find("frmPrescan")) preview->unload();
    road.world.runUntilIdle();
    // A message box shown at the end is read and closed before the next input begins.
    for (int ms = 0; ms < 1000 && road.plugin->forms().isLoaded("frmDlgBox"); ++ms)
        road.world.advance(1);
    require(!road.plugin->forms().isLoaded("frmDlgBox"));
    l.freePreview();
    // Nothing of this capture is held any more (the stores hold only unacknowledged images).
    require(road.plugin->plugin()->extendedStore().slots.empty());
    require(road.plugin->plugin()->basicStore().slots.empty());
    require(road.world.live() == before);
    require(temporaryFiles() == temporaryBefore);
    // Plates that never reached the host stay in the spool to be recovered at the next start;
    // they go here, so each input starts with an empty spool folder as the first one did (and
    // the folder does not grow with the run, making every later look-up in it slower).
    controller::PlateSpool& spool = road.plugin->spool();
    for (const auto& entry : spool.entries())
        spool.release(entry.number);
    // The outcome is the messages' codes and sizes: their contents carry the session's image
    // ids and the virtual time, which go on from input to input as in a long session.
    std::string outcome;
    for (const auto& m : road.host.received())
        outcome += std::to_string(m.code) + ':' + std::to_string(m.data.size()) + '\n';
    test::echoOutcome(outcome);
    return 0;
}
