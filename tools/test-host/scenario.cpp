#include "test-host/scenario.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/text.h"
#include "imaging/tiff.h"
#include "test-host/decode.h"

namespace quilo::testhost {

namespace {

constexpr std::int32_t kInitializePlugin = 2;
constexpr std::int32_t kShutdownPlugin = 3;
constexpr std::int32_t kGetInformation = 4;
constexpr std::int32_t kGetCapabilities = 5;
constexpr std::int32_t kGetStatus = 6;
constexpr std::int32_t kSetSettings = 12;
constexpr std::int32_t kGetSensorCount = 30;
constexpr std::int32_t kGetSensorInformation = 31;
constexpr std::int32_t kAnnouncement = -1;

void put32(Bytes& b, std::size_t at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::byte>((u >> (8 * i)) & 0xFF);
}
void put16(Bytes& b, std::size_t at, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    b[at] = static_cast<std::byte>(u & 0xFF);
    b[at + 1] = static_cast<std::byte>(u >> 8);
}
void putText(Bytes& b, std::size_t at, std::size_t width, const std::string& utf8) {
    const std::string a = utf8ToAnsi(utf8);
    for (std::size_t i = 0; i < width && i < a.size(); ++i)
        b[at + i] = static_cast<std::byte>(a[i]);
}

}  // namespace

Bytes expectedStatus(std::int32_t code, bool dialog) {
    Bytes b(12);
    put32(b, 0, 12);
    put32(b, 4, code);
    put16(b, 8, dialog ? -1 : 0);
    return b;
}

Bytes expectedCapabilities() {
    Bytes b(20);
    put32(b, 0, 20);
    const std::int16_t flags[6] = {-1, -1, 0, -1, -1, 0};
    for (std::size_t i = 0; i < 6; ++i)
        put16(b, 8 + 2 * i, flags[i]);
    return b;
}

Bytes expectedSensorCount(std::int32_t count) {
    Bytes b(8);
    put32(b, 0, 8);
    put32(b, 4, count);
    return b;
}

Bytes expectedInformation(std::int32_t kind, const std::string& product, const std::string& path) {
    Bytes b(336);
    put32(b, 0, 336);
    put32(b, 4, kind);
    put32(b, 8, 24);
    putText(b, 16, 64, product);
    putText(b, 80, 256, path);
    return b;
}

Bytes expectedSensor(std::int32_t number, std::int32_t kind, const std::string& name, bool tool,
                     const std::string& text, const std::string& description) {
    Bytes b(220);
    put32(b, 0, 220);
    put32(b, 4, number);
    put32(b, 8, kind);
    putText(b, 16, 64, name);
    put16(b, 80, tool ? -1 : 0);
    put32(b, 88, 2);
    putText(b, 92, 64, text);
    putText(b, 156, 64, description);
    return b;
}

Scenario::Scenario(HostCore& host, PluginLauncher& launcher,
                   std::function<void(const std::string&)> out, ScenarioOptions options)
    : host_(host), launcher_(launcher), out_(std::move(out)), options_(std::move(options)) {}

bool Scenario::check(bool ok, const std::string& what, const std::string& detail) {
    ++step_;
    out_((ok ? "ok " : "not ok ") + std::to_string(step_) + " - " + what);
    if (!ok) {
        ++failures_;
        if (!detail.empty()) out_("# " + detail);
    }
    return ok;
}

bool Scenario::expectBytes(const Bytes& got, const Bytes& want, const std::string& what) {
    if (got == want) return check(true, what);
    std::string detail =
        "got " + std::to_string(got.size()) + " bytes, want " + std::to_string(want.size());
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
        if (got[i] != want[i]) {
            detail += "; first difference at offset " + std::to_string(i);
            break;
        }
    }
    detail += "\n# got:  " + hexDump(got) + "\n# want: " + hexDump(want);
    return check(false, what, detail);
}

std::optional<Bytes> Scenario::ask(std::int32_t code, const Bytes& data) {
    const std::size_t from = host_.received().size();
    const platform::LResult verdict = host_.send(plugin_, code, data);
    if (verdict == 0) return std::nullopt;
    const int at = host_.waitFor(code, from, options_.replyTimeoutMs);
    if (at < 0) return std::nullopt;
    return host_.received()[static_cast<std::size_t>(at)].data;
}

bool Scenario::silentFor(std::int32_t code, std::uint32_t ms) {
    const std::size_t from = host_.received().size();
    return host_.waitFor(code, from, ms) < 0;
}

bool Scenario::startPlugin(const std::string& args) {
    const std::size_t from = host_.received().size();
    if (!launcher_.start(args)) return check(false, "start the plug-in " + args);
    const int at = host_.waitFor(kAnnouncement, from, options_.startTimeoutMs);
    plugin_ = at < 0 ? 0 : host_.received()[static_cast<std::size_t>(at)].sender;
    return check(plugin_ != 0, "the plug-in announces itself when it starts" +
                                   (args.empty() ? std::string() : " (" + args + ")"));
}

bool Scenario::waitExit(std::uint32_t timeoutMs, int& code) {
    std::optional<int> rc;
    host_.waitUntil(
        [&] {
            rc = launcher_.exitCode();
            return rc.has_value();
        },
        timeoutMs);
    if (rc) code = *rc;
    return rc.has_value();
}

bool Scenario::shutdown(const std::function<void()>& meanwhile) {
    const std::size_t from = host_.received().size();
    // The endpoint takes the command and returns at once; it works it off later, so a question
    // it asks on its way out does not block this send.
    const platform::LResult verdict = host_.sendHandleCommand(plugin_, kShutdownPlugin);
    if (meanwhile) meanwhile();
    check(verdict != 0, "ShutdownPlugin is accepted");
    const int at = host_.waitFor(kGetStatus, from, options_.replyTimeoutMs);
    if (at >= 0)
        expectBytes(host_.received()[static_cast<std::size_t>(at)].data, expectedStatus(0),
                    "ShutdownPlugin reports status 0 (Un-Initialized)");
    else
        check(false, "ShutdownPlugin reports status 0 (Un-Initialized)", "no status message");
    int code = -1;
    const bool ended = waitExit(15000, code);
    check(ended && code == 0, "the plug-in process ends with exit code 0",
          ended ? "exit code " + std::to_string(code) : "still running");
    platform::WindowSystem& w = host_.platform().windows();
    check(host_.waitUntil([&] { return !w.isWindow(plugin_); }, 3000),
          "the plug-in's window is gone");
    if (!ended) launcher_.kill();
    return ended && code == 0;
}

int Scenario::lifecycle(const Expectations& e) {
    if (!startPlugin("")) return failures_;

    {
        const std::size_t from = host_.received().size();
        host_.enumerate();
        const int at = host_.waitFor(kAnnouncement, from, options_.replyTimeoutMs);
        check(at >= 0 && host_.received()[static_cast<std::size_t>(at)].sender == plugin_,
              "EnumeratePlugIns: the plug-in announces the same window again");
    }
    {
        // Data that names no window: refused at once, nothing reported.
        const platform::LResult v = host_.send(plugin_, kInitializePlugin, int32Bytes(1));
        check(v == 0, "InitializePlugin naming no window is refused");
        check(silentFor(kGetStatus, options_.silenceMs), "... and no status is reported");
    }
    {
        const std::size_t from = host_.received().size();
        const platform::LResult v = host_.sendHandleCommand(plugin_, kInitializePlugin);
        check(v != 0, "InitializePlugin with the host's window is accepted");
        const int at = host_.waitFor(kGetStatus, from, options_.replyTimeoutMs);
        if (at >= 0)
            expectBytes(host_.received()[static_cast<std::size_t>(at)].data, expectedStatus(16),
                        "InitializePlugin reports status 16 (Idle)");
        else
            check(false, "InitializePlugin reports status 16 (Idle)", "no status message");
    }
    {
        const platform::LResult v = host_.sendHandleCommand(plugin_, kInitializePlugin);
        check(v != 0, "a second InitializePlugin is taken in");
        check(silentFor(kGetStatus, options_.silenceMs), "... and changes no status");
    }
    const std::int32_t defaultKind =
        e.defaultSet >= 1 && static_cast<std::size_t>(e.defaultSet) <= e.sets.size()
            ? e.sets[static_cast<std::size_t>(e.defaultSet - 1)].kind
            : 1;
    if (auto r = ask(kGetInformation, handleBytes(host_.hwnd())))
        expectBytes(*r, expectedInformation(defaultKind, e.productText, e.programPath),
                    "GetInformation");
    else
        check(false, "GetInformation", "no reply");
    if (auto r = ask(kGetCapabilities, handleBytes(host_.hwnd())))
        expectBytes(*r, expectedCapabilities(), "GetCapabilities");
    else
        check(false, "GetCapabilities", "no reply");
    const auto sets = static_cast<std::int32_t>(e.sets.size());
    if (auto r = ask(kGetSensorCount, handleBytes(host_.hwnd())))
        expectBytes(*r, expectedSensorCount(sets + 1), "GetSensorCount: the sets and one more");
    else
        check(false, "GetSensorCount", "no reply");
    for (std::int32_t n = 0; n <= sets + 1; ++n) {
        Bytes want;
        const std::string desc = e.model + " / " + e.serial;
        if (n == 0) {
            want = expectedSensor(
                0, defaultKind,
                "(Default) " + e.sets[static_cast<std::size_t>(e.defaultSet - 1)].name, false,
                e.maker, desc);
        } else if (n <= sets) {
            const auto& s = e.sets[static_cast<std::size_t>(n - 1)];
            want = expectedSensor(n, s.kind, s.name, s.tool, e.maker, desc);
        } else {
            want = expectedSensor(n, 1, "Simulate capture", false, e.maker,
                                  e.model + " TEST IMAGE / " + e.serial);
        }
        const std::string what = "GetSensorInformation(" + std::to_string(n) + ")";
        if (auto r = ask(kGetSensorInformation, int32Bytes(n)))
            expectBytes(*r, want, what);
        else
            check(false, what, "no reply");
    }
    if (auto r = ask(kGetStatus, handleBytes(host_.hwnd())))
        expectBytes(*r, expectedStatus(16), "GetStatus answers Idle");
    else
        check(false, "GetStatus", "no reply");
    for (const char* text : {"LAN German", "LAN English"}) {
        const platform::LResult v = host_.send(plugin_, kSetSettings, settingsBlock(text));
        check(v != 0, std::string("SetSettings \"") + text + "\" is accepted");
        if (auto r = ask(kGetStatus, handleBytes(host_.hwnd())))
            expectBytes(*r, expectedStatus(16), "... and the plug-in still answers Idle");
        else
            check(false, "... and the plug-in still answers", "no reply");
    }
    {
        check(host_.send(plugin_, 9, handleBytes(host_.hwnd())) == 0,
              "an unknown command code is refused");
        HostCore stranger(host_.platform(), "Stranger");
        check(stranger.sendFrom(stranger.hwnd(), plugin_, kGetStatus,
                                handleBytes(stranger.hwnd())) == 0,
              "a command from another window than the host's is refused");
        Bytes eight = handleBytes(host_.hwnd());
        eight.resize(8, std::byte{0});
        check(host_.send(plugin_, kGetStatus, eight) != 0,
              "GetStatus with 8 bytes of data is taken in");
        check(silentFor(kGetStatus, options_.silenceMs), "... but not answered");
    }
    {
        // A second copy ends on its own, quietly, and the first one keeps working.
        const Hwnd first = plugin_;
        const std::size_t from = host_.received().size();
        launcher_.start("");
        int code = -1;
        const bool ended = waitExit(15000, code);
        check(ended && code == 0, "a second instance ends by itself with exit code 0",
              ended ? "exit code " + std::to_string(code) : "still running");
        bool announced = false;
        for (std::size_t i = from; i < host_.received().size(); ++i)
            announced = announced || host_.received()[i].code == kAnnouncement;
        check(!announced, "... without announcing itself");
        if (!ended) launcher_.kill();
        plugin_ = first;
        if (auto r = ask(kGetStatus, handleBytes(host_.hwnd())))
            expectBytes(*r, expectedStatus(16), "the first instance still answers");
        else
            check(false, "the first instance still answers", "no reply");
    }
    shutdown();
    return failures_;
}

int Scenario::testMode() {
    if (!startPlugin("/test")) return failures_;
    platform::WindowSystem& w = host_.platform().windows();
    const std::string caption = w.windowText(plugin_);
    const std::string suffix = " [Testmode]";
    check(caption.size() >= suffix.size() &&
              caption.compare(caption.size() - suffix.size(), suffix.size(), suffix) == 0,
          "in test mode the caption ends with \" [Testmode]\"", "caption \"" + caption + "\"");
    const std::size_t from = host_.received().size();
    check(host_.sendHandleCommand(plugin_, kInitializePlugin) != 0, "InitializePlugin");
    check(host_.waitFor(kGetStatus, from, options_.replyTimeoutMs) >= 0, "... reports a status");
    // Shown once loading has finished, which is after the announcement.
    check(w.isVisible(plugin_), "in test mode the main window is visible");
    if (options_.screenshot) options_.screenshot("testmode-english", plugin_);
    check(host_.send(plugin_, kSetSettings, settingsBlock("LAN German")) != 0,
          "SetSettings \"LAN German\"");
    if (auto r = ask(kGetStatus, handleBytes(host_.hwnd()))) {
        expectBytes(*r, expectedStatus(16), "... and the plug-in still answers Idle");
    } else {
        check(false, "... and the plug-in still answers", "no reply");
    }
    if (options_.screenshot) options_.screenshot("testmode-german", plugin_);
    shutdown();
    return failures_;
}

int Scenario::watchdog() {
    // The plug-in is initialised by a host window of its own, which then goes away while this
    // host keeps watching the process.
    HostCore doomed(host_.platform(), "Vanishing host");
    doomed.waiter = host_.waiter;
    if (!startPlugin("")) return failures_;
    const std::size_t from = doomed.received().size();
    check(doomed.sendHandleCommand(plugin_, kInitializePlugin) != 0,
          "InitializePlugin from the host that will vanish");
    check(doomed.waitFor(kGetStatus, from, options_.replyTimeoutMs) >= 0, "... reports Idle");
    // The plug-in's windows go into this host's lasting window, not into the one that vanishes
    // (they would go with it).
    check(doomed.send(
              plugin_, kSetSettings,
              settingsBlock("PHW " + std::to_string(platform::handleToRecord(host_.hwnd())))) != 0,
          "PHW: the plug-in's windows into the lasting host window");
    // Commands are worked off in order: once a status comes back, the PHW has been taken.
    const std::size_t afterPhw = doomed.received().size();
    check(doomed.send(plugin_, kGetStatus, handleBytes(doomed.hwnd())) != 0 &&
              doomed.waitFor(kGetStatus, afterPhw, options_.replyTimeoutMs) >= 0,
          "... and a status after it");
    host_.platform().windows().destroyWindow(doomed.hwnd());
    const std::uint32_t gone = host_.platform().clock().tickCount();
    int code = -1;
    const bool ended = waitExit(60000, code);
    const std::uint32_t after = host_.platform().clock().tickCount() - gone;
    out_("# the plug-in ended " + std::to_string(after) + " ms after its host went away");
    check(ended && code == 0, "the plug-in ends by itself with exit code 0",
          ended ? "exit code " + std::to_string(code) : "still running after 60 s");
    // The second tick that misses the host comes 20 to 40 seconds after it went away; ending
    // the process and noticing that here take a moment more on a busy machine.
    check(ended && after >= 19000 && after <= 45000,
          "... between 20 and 40 seconds after its host went away",
          "after " + std::to_string(after) + " ms");
    if (!ended) launcher_.kill();
    return failures_;
}

}  // namespace quilo::testhost

namespace quilo::testhost {

namespace {
constexpr std::int32_t kActivateCapture = 20;
constexpr std::int32_t kImageStored = 22;
constexpr std::int32_t kStopCapture = 23;
constexpr std::int32_t kImageCapturedEx = 24;
constexpr std::size_t kImageExHeader = 2376;

std::int32_t le32(const Bytes& b, std::size_t at) {
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}
double f64(const Bytes& b, std::size_t at) {
    double v = 0;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}
std::string ansiAt(const Bytes& b, std::size_t at, std::size_t width) {
    std::string s;
    for (std::size_t i = at; i < at + width && b[i] != std::byte{0}; ++i)
        s.push_back(static_cast<char>(b[i]));
    return ansiToUtf8(s);
}
}  // namespace

bool Scenario::checkImageMessage(const Bytes& m, const CaptureRun& run, int index) {
    const std::string which = "image " + std::to_string(index + 1);
    if (!check(m.size() > kImageExHeader, which + " arrives with its image data",
               std::to_string(m.size()) + " bytes"))
        return false;
    const std::int32_t w = le32(m, 8), h = le32(m, 12);
    check(le32(m, 0) == static_cast<std::int32_t>(m.size()) &&
              le32(m, 308) == static_cast<std::int32_t>(m.size() - kImageExHeader),
          which + ": the record's sizes match the message");
    check(le32(m, 48) == 32770, which + ": a TIFF file image in memory (format 32770)");
    if (!run.text1.empty())
        check(ansiAt(m, 1352, 1024) == run.text1, which + ": text 1 is \"" + run.text1 + "\"",
              "\"" + ansiAt(m, 1352, 1024) + "\"");
    try {
        const imaging::Image image =
            imaging::readTiff(std::span<const std::byte>(m).subspan(kImageExHeader));
        check(static_cast<std::int32_t>(image.width()) == w &&
                  static_cast<std::int32_t>(image.height()) == h,
              which + ": the TIFF is " + std::to_string(w) + " x " + std::to_string(h) +
                  " pixels as the record says",
              std::to_string(image.width()) + " x " + std::to_string(image.height()));
        // The millimetres and the TIFF's resolution both come from the pixel pitch.
        const double mmW = f64(m, 16), mmH = f64(m, 24);
        check(image.pitchX() > 0 && std::abs(w * image.pitchX() / 1000.0 - mmW) < 0.05 &&
                  std::abs(h * image.pitchY() / 1000.0 - mmH) < 0.05,
              which + ": millimetres and TIFF resolution agree",
              std::to_string(mmW) + " x " + std::to_string(mmH) + " mm, pitch " +
                  std::to_string(image.pitchX()));
    } catch (const std::exception& e) {
        check(false, which + ": the TIFF file image reads", e.what());
    }
    return true;
}

// The plug-in's machine-wide options, where the host and the plug-in both find them.
constexpr const char* kOptionsKey = "SOFTWARE\\Kelvora AB\\Plugins\\Quilo Plugin\\Options";

void Scenario::setNoPreview(int mode) {
    // The preview mode is a machine-wide setting; the host writes it where the plug-in reads it.
    const std::string value = std::to_string(mode);
    std::vector<std::byte> data;
    for (char c : value)
        data.push_back(static_cast<std::byte>(c));
    data.push_back(std::byte{0});
    host_.platform().registry().setValue(platform::RegRoot::LocalMachine, kOptionsKey, "NoPreview",
                                         platform::RegType::Sz, data);
}

std::string Scenario::option(const std::string& name) {
    platform::RegValue v;
    if (host_.platform().registry().queryValue(platform::RegRoot::LocalMachine, kOptionsKey, name,
                                               256, v) != 0)
        return "<absent>";
    std::string text(reinterpret_cast<const char*>(v.data.data()), v.data.size());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

int Scenario::waitRecord(std::int32_t code, const Bytes& want, std::size_t from) {
    int at = -1;
    host_.waitUntil(
        [&] {
            for (std::size_t i = from; i < host_.received().size() && at < 0; ++i)
                if (host_.received()[i].code == code && host_.received()[i].data == want)
                    at = static_cast<int>(i);
            return at >= 0;
        },
        options_.replyTimeoutMs);
    return at;
}

bool Scenario::startInitialized() {
    if (!startPlugin("")) return false;
    std::size_t from = host_.received().size();
    check(host_.sendHandleCommand(plugin_, kInitializePlugin) != 0, "InitializePlugin");
    return check(host_.waitFor(kGetStatus, from, options_.replyTimeoutMs) >= 0, "... reports Idle");
}

bool Scenario::startCapture(const CaptureRun& run) {
    setNoPreview(run.noPreview);
    if (!startInitialized()) return false;
    return check(host_.send(plugin_, kActivateCapture, int32Bytes(run.sensor)) != 0,
                 "ActivateCapture for sensor " + std::to_string(run.sensor));
}

void Scenario::stopCapture() {
    // Statuses of the last image may still be on their way: the stop's own is Idle.
    const std::size_t from = host_.received().size();
    check(host_.sendHandleCommand(plugin_, kStopCapture) != 0, "StopCapture");
    check(host_.waitUntil(
              [&] {
                  for (std::size_t i = from; i < host_.received().size(); ++i) {
                      const Received& r = host_.received()[i];
                      if (r.code == kGetStatus && r.data.size() >= 8 && le32(r.data, 4) == 16)
                          return true;
                  }
                  return false;
              },
              options_.replyTimeoutMs),
          "... reports Idle");
}

std::vector<std::size_t> Scenario::imagesSince(std::size_t from) const {
    std::vector<std::size_t> out;
    for (std::size_t i = from; i < host_.received().size(); ++i)
        if (host_.received()[i].code == kImageCapturedEx) out.push_back(i);
    return out;
}

int Scenario::capture(const CaptureRun& run) {
    const std::size_t from = host_.received().size();
    if (!startCapture(run)) return failures_;
    std::vector<std::size_t> images;
    auto collect = [&] {
        images = imagesSince(from);
        return images.size() >= static_cast<std::size_t>(run.images);
    };
    check(host_.waitUntil(collect, run.timeoutMs),
          std::to_string(run.images) + " images arrive from one activation",
          std::to_string(images.size()) + " arrived");
    for (std::size_t i = 0; i < images.size(); ++i) {
        const Bytes& m = host_.received()[images[i]].data;
        checkImageMessage(m, run, static_cast<int>(i));
        check(le32(m, 4) == static_cast<std::int32_t>(i + 1),
              "image " + std::to_string(i + 1) + " has image id " + std::to_string(i + 1));
        if (static_cast<int>(i) < run.acknowledge)
            check(host_.send(plugin_, kImageStored, int32Bytes(le32(m, 4))) != 0,
                  "ImageStored " + std::to_string(le32(m, 4)));
    }
    stopCapture();
    // Images never acknowledged are offered for saving when the plug-in ends.
    const bool lost = run.acknowledge < static_cast<int>(images.size());
    shutdown([&] {
        if (!lost || !options_.answerQuestion) return;
        const std::string question = options_.answerQuestion(false);
        check(question.rfind("Error: Not all images are acknowledged by ImageStored", 0) == 0,
              "the unacknowledged image is offered for saving", "\"" + question + "\"");
    });
    return failures_;
}

int Scenario::recovery(const CaptureRun& run) {
    platform::Files& files = host_.platform().files();
    // The plug-in's data folder: the user's application data, under its short product name.
    const std::string recovered = files.userDataFolder() + "\\QUILO\\Recovered";
    const std::size_t before = files.list(recovered, "*.tif").size();
    const std::size_t from = host_.received().size();
    if (!startCapture(run)) return failures_;
    if (!check(host_.waitUntil([&] { return !imagesSince(from).empty(); }, run.timeoutMs),
               "an image arrives")) {
        launcher_.kill();
        return failures_;
    }
    // "Scanner active" again: the plug-in is done with the plate (the scanner has deleted it).
    const std::size_t image = imagesSince(from).front();
    check(host_.waitUntil(
              [&] {
                  for (std::size_t i = image; i < host_.received().size(); ++i)
                      if (host_.received()[i].code == kGetStatus &&
                          le32(host_.received()[i].data, 4) == 64)
                          return true;
                  return false;
              },
              run.timeoutMs),
          "... and the scanner is active again");
    launcher_.kill();  // as a crash or the task manager ends it: nothing of it runs any more
    int code = 0;
    check(waitExit(15000, code), "the killed plug-in is gone");
    if (!startPlugin("")) return failures_;
    check(
        host_.waitUntil([&] { return files.list(recovered, "*.tif").size() == before + 1; }, 20000),
        "at its start the plug-in saves the plate it had not delivered", recovered);
    const std::size_t at = host_.received().size();
    check(host_.sendHandleCommand(plugin_, kInitializePlugin) != 0 &&
              host_.waitFor(kGetStatus, at, options_.replyTimeoutMs) >= 0,
          "... and works on: InitializePlugin reports Idle");
    shutdown();
    return failures_;
}

int Scenario::soak(const SoakRun& run) {
    setNoPreview(1);
    if (!startInitialized()) return failures_;
    // Counted once the plug-in has worked off what it was sent.
    auto settledCounts = [&] {
        const std::uint32_t until = host_.platform().clock().tickCount() + 500;
        host_.waitUntil([&] { return host_.platform().clock().tickCount() >= until; }, 1000);
        return options_.processCounts ? options_.processCounts() : ProcessCounts{};
    };
    ProcessCounts first, last;
    std::int32_t lastId = 0;
    int delivered = 0;
    std::vector<std::int32_t> owed;  // acknowledged once the next activation has begun
    auto acknowledge = [&](std::int32_t id) {
        check(host_.send(plugin_, kImageStored, int32Bytes(id)) != 0,
              "ImageStored " + std::to_string(id));
    };
    for (int a = 1; a <= run.activations; ++a) {
        const std::string which = "activation " + std::to_string(a);
        host_.take();  // the images of the last activation are done with: their memory goes
        if (!check(host_.send(plugin_, kActivateCapture, int32Bytes(1)) != 0,
                   which + ": ActivateCapture"))
            break;
        for (std::int32_t id : owed)
            acknowledge(id);
        owed.clear();
        // The host stores the images as they come and acknowledges them in batches, newest
        // first; what is left of a batch at the end waits for the next activation (or the stop).
        std::vector<std::int32_t> ids;
        std::string wrong;
        const std::uint32_t begun = host_.platform().clock().tickCount();
        while (ids.size() < static_cast<std::size_t>(run.plates)) {
            const std::uint32_t spent = host_.platform().clock().tickCount() - begun;
            if (spent >= run.timeoutMs ||
                !host_.waitUntil([&] { return imagesSince(0).size() > ids.size(); },
                                 run.timeoutMs - spent))
                break;
            const std::vector<std::size_t> images = imagesSince(0);
            for (std::size_t i = ids.size(); i < images.size(); ++i) {
                const Received& r = host_.received()[images[i]];
                const std::int32_t id = le32(r.data, 4);
                if (id != lastId + 1)
                    wrong += " id " + std::to_string(id) + " after " + std::to_string(lastId) + ";";
                try {
                    const imaging::Image image = imaging::readTiff(HostCore::imagePayload(r));
                    if (static_cast<std::int32_t>(image.width()) != le32(r.data, 8) ||
                        static_cast<std::int32_t>(image.height()) != le32(r.data, 12))
                        wrong += " image " + std::to_string(id) + " not of its record's size;";
                } catch (const std::exception& e) {
                    wrong += " image " + std::to_string(id) + ": " + e.what() + ";";
                }
                lastId = id;
                ids.push_back(id);
                owed.push_back(id);
            }
            if (owed.size() >= static_cast<std::size_t>(run.batch)) {
                for (auto id = owed.rbegin(); id != owed.rend(); ++id)
                    acknowledge(*id);
                owed.clear();
            }
        }
        delivered += static_cast<int>(ids.size());
        check(ids.size() == static_cast<std::size_t>(run.plates),
              which + ": " + std::to_string(run.plates) + " plates arrive",
              std::to_string(ids.size()) + " arrived");
        check(wrong.empty(), which + ": each image whole, its id one above the last", wrong);
        stopCapture();
        if (a == 1) {
            // The first activation warms up (fonts, pools, the spool folder) and is counted
            // with nothing owed, as the last one is.
            for (std::int32_t id : owed)
                acknowledge(id);
            owed.clear();
            first = settledCounts();
        }
    }
    for (std::int32_t id : owed)
        acknowledge(id);
    host_.take();
    last = settledCounts();
    const int expected = run.activations * run.plates;
    check(delivered == expected, std::to_string(expected) + " plates delivered, each once",
          std::to_string(delivered));
    auto mb = [](std::int64_t b) { return std::to_string(b >> 20) + " MB"; };
    out_("# soak: " + std::to_string(delivered) + " plates; after the first activation and the " +
         "last: windows " + std::to_string(first.windows) + " -> " + std::to_string(last.windows) +
         ", private memory " + mb(first.privateBytes) + " -> " + mb(last.privateBytes) +
         ", USER objects " + std::to_string(first.userObjects) + " -> " +
         std::to_string(last.userObjects) + ", GDI objects " + std::to_string(first.gdiObjects) +
         " -> " + std::to_string(last.gdiObjects) + " (-1: not counted here)");
    if (first.windows >= 0) check(last.windows == first.windows, "no window is left behind");
    if (first.privateBytes >= 0)
        check(last.privateBytes - first.privateBytes <= run.privateBytesSlack,
              "private memory stays flat (within " + mb(run.privateBytesSlack) + ")");
    // Where the system counts them: one object lost per plate would show as dozens here.
    if (first.userObjects >= 0)
        check(last.userObjects <= first.userObjects, "no USER object leaks");
    if (first.gdiObjects >= 0) check(last.gdiObjects <= first.gdiObjects, "no GDI object leaks");
    // With every image acknowledged the plug-in has nothing to offer: it ends without a question.
    shutdown();
    return failures_;
}

int Scenario::preview(const CaptureRun& run, PreviewDriver& ui) {
    CaptureRun withPreview = run;
    withPreview.noPreview = 0;
    const std::size_t from = host_.received().size();
    if (!startCapture(withPreview)) return failures_;
    if (check(ui.waitWindow(run.timeoutMs), "the preview window opens while the plate is read"))
        ui.screenshot("preview-scanning-English");
    check(host_.waitUntil([&] { return ui.thumbnails() >= run.images; }, run.timeoutMs),
          std::to_string(run.images) + " thumbnails in the preview window",
          std::to_string(ui.thumbnails()) + " there");
    // The last plate's transport has ended when its image is ready; a moment for the window.
    host_.waitUntil([] { return false; }, 1500);
    check(imagesSince(from).empty(), "no image goes to the host before the user chooses");
    ui.screenshot("preview-images-English");
    for (const char* language : {"German", "Swedish", "English"}) {
        host_.send(plugin_, kSetSettings, settingsBlock(std::string("LAN ") + language));
        // Two clicks on the first thumbnail: the status line is written anew in that language.
        check(ui.clickThumbnail(0) && ui.clickThumbnail(0),
              std::string("the first thumbnail clicked off and on again (") + language + ")");
        if (std::string(language) != "English")
            ui.screenshot(std::string("preview-images-") + language);
    }
    check(ui.clickThumbnail(1), "the second thumbnail clicked off");
    check(ui.clickButton("&Save images"), "\"&Save images\" clicked");
    std::vector<std::size_t> images;
    check(host_.waitUntil(
              [&] {
                  images = imagesSince(from);
                  return images.size() >= 2;
              },
              run.timeoutMs),
          "the two chosen images arrive", std::to_string(images.size()) + " arrived");
    host_.waitUntil([] { return false; }, 500);
    images = imagesSince(from);
    check(images.size() == 2, "exactly the two chosen images", std::to_string(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const Bytes& m = host_.received()[images[i]].data;
        checkImageMessage(m, run, static_cast<int>(i));
        check(host_.send(plugin_, kImageStored, int32Bytes(le32(m, 4))) != 0,
              "ImageStored " + std::to_string(le32(m, 4)));
    }
    stopCapture();
    shutdown();
    return failures_;
}

}  // namespace quilo::testhost

namespace quilo::testhost {

int Scenario::setup(DialogDriver& ui) {
    constexpr std::int32_t kActivateSetup = 10;
    constexpr std::uint32_t kDialogMs = 20000;
    // The options this scenario changes are put back at its end, so the scenarios after it
    // capture with the settings they expect.
    struct Restore {
        Scenario& s;
        std::vector<std::pair<std::string, std::string>> before;
        ~Restore() {
            platform::Registry& r = s.host_.platform().registry();
            for (const auto& [name, value] : before) {
                if (value == "<absent>") {
                    r.deleteValue(platform::RegRoot::LocalMachine, kOptionsKey, name);
                    continue;
                }
                std::vector<std::byte> data(value.size() + 1);
                std::memcpy(data.data(), value.data(), value.size());
                r.setValue(platform::RegRoot::LocalMachine, kOptionsKey, name,
                           platform::RegType::Sz, data);
            }
        }
    } restore{*this, {}};
    for (const char* name : {"BitDepth", "ImageEnhancement", "IntraLeadNRLevel"})
        restore.before.emplace_back(name, option(name));
    if (!startInitialized()) return failures_;
    // The buttons are found by their captions in each language; OK and Cancel are reached with
    // Enter and Escape as a user of any language would.
    struct Pass {
        const char* language;
        const char* about;
        const char* advanced;
        const char* standard;
    };
    const Pass passes[] = {{"English", "About...", "Advanced...", "Standard image enhancement"},
                           {"German", "Info...", "Erweitert...", "Standard-Bildverbesserung"},
                           {"Swedish", "Om...", "Avancerat...", "Standardbildförbättring"}};
    for (const Pass& pass : passes) {
        const std::string language = pass.language;
        const bool english = language == "English";
        auto shot = [&](const char* dialog) {
            ui.screenshot(std::string("setup-") + dialog + "-" + language);
        };
        // Opens a dialog from the current one with a click and takes its picture; the user
        // works in the opened one afterwards.
        auto open = [&](const std::string& caption, const char* dialog) {
            const bool opened = ui.click(caption) && ui.waitDialog(kDialogMs).has_value();
            if (check(opened, std::string(dialog) + " opens (" + language + ")")) shot(dialog);
            return opened;
        };
        auto back = [&](DialogDriver::Key key, const std::string& what) {
            check(ui.press(key) && ui.waitDialog(kDialogMs).has_value(), what);
        };

        host_.send(plugin_, kSetSettings, settingsBlock("LAN " + language));
        const std::size_t from = host_.received().size();
        check(host_.sendHandleCommand(plugin_, kActivateSetup) != 0,
              "ActivateSetup (" + language + ")");
        check(waitRecord(kGetStatus, expectedStatus(16, true), from) >= 0,
              "... reports Idle with a dialog open");
        const std::optional<std::string> caption = ui.waitDialog(kDialogMs);
        if (!check(caption.has_value(), "the setup dialog is on the screen")) return failures_;
        shot("frmSetup");
        if (english)
            check(caption->size() > 6 && caption->ends_with(" Setup"),
                  "... titled \"<model> Setup\"", "\"" + *caption + "\"");
        if (open(pass.about, "frmAbout"))
            back(DialogDriver::Key::Escape, "Escape closes the About box");
        // The default enhancement has no advanced settings; after the English pass the alternate
        // one is the active enhancement.
        if (!english && open(pass.advanced, "frmLeadSettings"))
            back(DialogDriver::Key::Escape, "Escape cancels the advanced settings");
        check(ui.click(pass.standard), std::string("\"") + pass.standard + "\" checked");
        if (open(pass.advanced, "frmSettings"))
            back(DialogDriver::Key::Escape, "Escape cancels the advanced settings");
        if (!english) {
            const std::size_t before = host_.received().size();
            check(ui.press(DialogDriver::Key::Escape), "Escape cancels the setup dialog");
            check(waitRecord(kGetStatus, expectedStatus(16), before) >= 0,
                  "... and Idle without a dialog is reported");
            continue;
        }
        check(ui.choose("12-bit"), "12-bit chosen as the colour depth");
        check(ui.click("Alternate image enhancement"), "\"Alternate image enhancement\" checked");
        if (open("Advanced...", "frmLeadSettings")) {
            check(ui.choose("4 (5x5)"), "noise reduction 4 (5x5) chosen");
            check(ui.click("OK") && ui.waitDialog(kDialogMs).has_value(),
                  "OK closes the advanced settings");
        }
        const std::size_t before = host_.received().size();
        check(ui.click("OK"), "OK pressed in the setup dialog");
        const int capabilities = waitRecord(kGetCapabilities, expectedCapabilities(), before);
        check(capabilities >= 0, "the host receives the capabilities");
        check(waitRecord(kGetStatus, expectedStatus(16),
                         static_cast<std::size_t>(capabilities + 1)) >= 0,
              "... then Idle without a dialog");
        const std::pair<const char*, const char*> saved[] = {
            {"BitDepth", "12"}, {"ImageEnhancement", "1"}, {"IntraLeadNRLevel", "4"}};
        for (const auto& [name, value] : saved)
            check(option(name) == value, std::string("the registry holds ") + name + " " + value,
                  option(name));
    }
    shutdown();
    return failures_;
}

}  // namespace quilo::testhost
