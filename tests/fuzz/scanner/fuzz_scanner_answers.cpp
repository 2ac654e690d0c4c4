// Arbitrary answers of the scanner library, and arbitrary INI files of the simulated scanner,
// fed into SensorAPI: it must neither crash nor hang, whatever the library says, and it must
// give back every memory block, handle, window and timer it took.
//
// The first byte chooses the mode. Mode 0: every library call takes its result and its text
// buffer from the input; the rest of the input is the library's INI file. Mode 1: the input
// is the simulated scanner's INI file, and a short capture runs against it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "../../unit/scanner/scanner_fakes.h"
#include "fuzz/support/fuzz_input.h"
#include "fuzz/support/fuzz_world.h"
#include "orvane-sim/world_library.h"
#include "scanner/orvane_binding.h"
#include "scanner/sensor_api.h"
#include "support/world.h"

namespace {

using quilo::scanner::ImageInfoRecord;
using quilo::scanner::Long;
using quilo::scanner::ScannerLibrary;

class Input : public quilo::test::FuzzInput {
  public:
    using FuzzInput::FuzzInput;
    Long result() {
        // Mostly small codes (the interesting ones), sometimes any value at all.
        const std::uint8_t kind = byte();
        if (kind < 200) return -static_cast<Long>(kind % 12);
        Long v = 0;
        for (int i = 0; i < 4; ++i)
            v = static_cast<Long>(static_cast<std::uint32_t>(v) << 8 | byte());
        return v;
    }
    std::string text(std::size_t capacity) {
        std::string s(capacity, '\0');
        const std::size_t n = std::min<std::size_t>(byte(), capacity);
        for (std::size_t i = 0; i < n; ++i)
            s[i] = static_cast<char>(byte());
        return s;
    }
};

class AnswerLibrary final : public ScannerLibrary {
  public:
    explicit AnswerLibrary(Input& in) : in_(in) {}
    Long Init_Dll(std::string_view) override { return in_.result(); }
    Long Get_IniFileName(std::string& b) override {
        // The INI path is fixed so the maker detection finds the fuzzed file.
        b = "C:\\Scanner\\OrvaneEx.ini";
        if (in_.byte() & 1) b = in_.text(256);
        b.resize(256, '\0');
        return in_.result();
    }
    Long Set_IniFileName(std::string_view) override { return in_.result(); }
    Long Get_Paramcount() override { return in_.result() * (in_.byte() & 1 ? -1 : 1); }
    Long Get_Paramname(std::string& b, Long) override { return textCall(b, 256); }
    Long Open_Scanner(Long) override { return in_.result(); }
    Long Set_Prescanmode(Long) override { return in_.result(); }
    Long Get_Serialnumber(std::string& b) override { return textCall(b, 256); }
    Long Get_DriverVersion(std::string& b) override { return textCall(b, 256); }
    Long Set_ImageExtraHeader(Long, Long) override { return in_.result(); }
    Long Aktivate_Scanner() override { return in_.result(); }
    Long Get_Status() override { return in_.result(); }
    Long GetPrescanImage(quilo::platform::HGlobal& p, Long& n) override { return noBlock(p, n); }
    Long ClearPrescanImage() override { return in_.result(); }
    Long Get_ImageName(std::string& b) override { return textCall(b, 255); }
    Long Get_ImageInfo(std::string_view, ImageInfoRecord& r) override {
        for (auto& x : r)
            x = std::byte{in_.byte()};
        return in_.result();
    }
    Long GetRawImage(std::string_view, Long, Long, quilo::platform::HGlobal& h, Long& n, Long, Long,
                     Long, Long) override {
        return noBlock(h, n);
    }
    Long Delete_Image(std::string_view) override { return in_.result(); }
    Long Deaktivate_Scanner() override { return in_.result(); }
    Long Close_Scanner() override { return in_.result(); }

  private:
    // A call that hands out a block: none, whatever it answers.
    Long noBlock(quilo::platform::HGlobal& h, Long& n) {
        h = 0;
        n = 0;
        return in_.result();
    }
    Long textCall(std::string& b, std::size_t capacity) {
        b = in_.text(capacity);
        return in_.result() == 0 || (in_.byte() & 1) ? 0 : -2;
    }
    Input& in_;
};

using quilo::scanner::testing::RecordingHost;

// What an input opens it closes: when this goes, the world holds as many memory blocks,
// handles, windows and timers as when it came.
struct SameWorldAfter {
    quilo::sim::World& world;
    const quilo::sim::LiveCounts before = world.live();
    ~SameWorldAfter() {
        if (!(world.live() == before)) std::abort();
    }
};

void runAnswers(Input& in, RecordingHost& host) {
    AnswerLibrary lib(in);
    host.noPreviewSetting = in.byte() % 3;
    if (in.byte() & 1) host.machineSettings["Devices\\\\_AsTool"] = "1";
    // One world for the whole run: making one per input (a folder tree on disk) costs far more
    // than the input.
    static quilo::test::TestWorld w{quilo::test::filesInMemory()};
    const SameWorldAfter unchanged{w.world};
    quilo::scanner::SensorAPI api(lib, w.proc.files(), w.proc.process(), host);
    const quilo::Registration previewLink = api.attachPreviewHook(host);
    api.CurrentParamSetNr() = static_cast<Long>(in.byte() % 5);
    const std::uint8_t rounds = static_cast<std::uint8_t>(1 + in.byte() % 3);
    host.previewImages = in.byte() % 2;
    api.PreviewShown = in.byte() & 1;
    w.put("C:\\Scanner\\OrvaneEx.ini", in.rest());
    for (int i = 0; i < rounds; ++i) {
        api.InitializeHardware();
        api.ScannerActivated = (i & 1) != 0;
        api.CloseHardware();
    }
}

// The simulated device reached through the plug-in's own binding, as in the product; one
// world for the run, and the library reloaded for each input so the device starts afresh
// (no calls counted, plates fed or images kept) with that input's INI file.
struct Device {
    quilo::test::TestWorld w{quilo::test::filesInMemory()};
    std::unique_ptr<quilo::orvanesim::WorldLibrary> device =
        quilo::orvanesim::WorldLibrary::install(w.world, w.proc);
};

void runDevice(Input& in, RecordingHost& host) {
    static Device d;
    quilo::test::TestWorld& w = d.w;
    w.put(quilo::platform::joinPath(w.proc.files().programFolder(), "OrvaneEx.ini"), in.rest());
    d.device->reload();
    const SameWorldAfter unchanged{w.world};
    quilo::orvanesim::Simulator& sim = d.device->device();
    quilo::scanner::OrvaneBinding lib(w.proc.libraries());
    quilo::scanner::SensorAPI api(lib, w.proc.files(), w.proc.process(), host);
    api.InitializeHardware();
    if (!api.HardwareInitialized || lib.Aktivate_Scanner() != 0) return;
    const auto& sets = sim.config().sets;
    const auto& set = sets.at(static_cast<std::size_t>(sim.openSet() - 1));
    // Keep the plate small enough for a fuzzer's pace: its pixels are made, read and mapped
    // on the way, and cost far more than the calls around them. Any shape up to that size
    // still comes through, empty and one-pixel plates included.
    if (set.widthPx() > 48 || set.heightPx() > 48) return;
    sim.feedPlate();
    for (int step = 0; step < 40; ++step) {
        w.world.advance(250);
        const Long s = lib.Get_Status();
        if (s > 0 && (s & 0x1000000)) {
            quilo::platform::HGlobal p = 0;
            Long n = 0;
            lib.GetPrescanImage(p, n);
        }
        if (s > 0 && (s & 0xFF)) {
            std::string name;
            if (!lib.Get_ImageName(name)) continue;
            const std::string image(quilo::scanner::untilNul(name));
            ImageInfoRecord record{};
            if (lib.Get_ImageInfo(image, record) == 0) {
                const auto info = quilo::scanner::parseImageInfo(record);
                quilo::platform::HGlobal h = 0;
                Long n = 0;
                if (lib.GetRawImage(image, info.width, info.height, h, n, 1, 1, 25000, 25000) == 0)
                    w.proc.memory().free(h);
            }
            lib.Delete_Image(image);
        }
    }
    api.ScannerActivated = true;
    api.CloseHardware();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    RecordingHost host;
    if (in.byte() & 1) {
        runDevice(in, host);
    } else {
        runAnswers(in, host);
    }
    std::string outcome;
    for (const auto& lines : {host.traces, host.dialogs})
        for (const auto& line : lines)
            outcome += line + '\n';
    quilo::test::echoOutcome(outcome);
    return 0;
}
