// Scripted sessions of the test host: each step sends commands and checks what comes back,
// byte for byte, printing one line per step ("ok 3 - ..." or "not ok 3 - ...").
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "test-host/host_core.h"

namespace quilo::testhost {

// Starts plug-in processes and tells when they have ended (TestHost.exe: CreateProcess).
class PluginLauncher {
  public:
    virtual ~PluginLauncher() = default;
    // Starts one more process of the plug-in with these arguments; false when it failed.
    virtual bool start(const std::string& arguments) = 0;
    // The exit code of the process started last, once it has ended.
    virtual std::optional<int> exitCode() = 0;
    // Ends the process started last, when a scenario failed half-way.
    virtual void kill() = 0;
};

// The plug-in's preview window as a user reaches it: through the screen and real input on
// Windows, through the forms model in the simulated world.
class PreviewDriver {
  public:
    virtual ~PreviewDriver() = default;
    // Waits until the plug-in shows its preview window; false after the timeout.
    virtual bool waitWindow(std::uint32_t timeoutMs) = 0;
    virtual int thumbnails() = 0;
    // A click on thumbnail i (0-based): it toggles that image's selection.
    virtual bool clickThumbnail(int i) = 0;
    // A click on the button with that caption ("&Save images").
    virtual bool clickButton(const std::string& caption) = 0;
    virtual void screenshot(const std::string& name) = 0;
};

// The plug-in's modal dialogs as a user reaches them: on the screen with real input.
class DialogDriver {
  public:
    enum class Key { Enter, Escape };
    virtual ~DialogDriver() = default;
    // Waits until the dialog the user works in is another one than before (one opened, or its
    // owner is back after it closed); its caption, or nothing after the timeout.
    virtual std::optional<std::string> waitDialog(std::uint32_t timeoutMs) = 0;
    // A click on the enabled button or check box with that caption in that dialog.
    virtual bool click(const std::string& caption) = 0;
    // Opens the dialog's drop-down that holds a line with this text and clicks the line; true
    // when the drop-down then shows it.
    virtual bool choose(const std::string& line) = 0;
    // A key pressed while the dialog has the focus.
    virtual bool press(Key key) = 0;
    virtual void screenshot(const std::string& name) = 0;
};

// What a correct plug-in answers, known to the scenario from outside the plug-in: its
// version record, where it was started from, and the scanner library's configuration.
struct Expectations {
    std::string productText;  // "Quilo Plugin ver: 1.0(.0)"
    std::string programPath;  // the full path the plug-in was started from
    struct Set {
        std::string name;
        std::int32_t kind = 1;  // image kind code
        bool tool = false;      // offered as a tool of its own
    };
    std::vector<Set> sets;        // the scanner's parameter sets, in order
    std::int32_t defaultSet = 1;  // the set the default entry describes
    std::string maker, model, serial;
};

// What a host sees of the plug-in's process from outside; -1 where this system does not count it.
struct ProcessCounts {
    std::int64_t windows = -1;       // windows of its threads, child windows included
    std::int64_t privateBytes = -1;  // committed private memory
    std::int64_t userObjects = -1;
    std::int64_t gdiObjects = -1;
};

struct ScenarioOptions {
    std::uint32_t startTimeoutMs = 30000;
    std::uint32_t replyTimeoutMs = 5000;
    std::uint32_t silenceMs = 700;  // how long "nothing comes back" is watched
    // Called with a name and the plug-in's window when it is worth a screenshot; returns
    // when it has been taken.
    std::function<void(const std::string&, Hwnd)> screenshot;
    // Waits for a Yes/No question of the plug-in's, answers it and returns its text (empty when
    // none came). Without it the plug-in's questions are answered by its platform (the
    // simulated world answers Yes).
    std::function<std::string(bool yes)> answerQuestion;
    // The plug-in process's counts (the soak); none when not given.
    std::function<ProcessCounts()> processCounts;
};

class Scenario {
  public:
    Scenario(HostCore& host, PluginLauncher& launcher, std::function<void(const std::string&)> out,
             ScenarioOptions options = {});

    // The whole life of a plug-in: start, enumeration, initialisation, questions, settings,
    // refusals, a second instance, shutdown. Returns the number of failed checks.
    int lifecycle(const Expectations& expected);
    // Test mode: caption and visibility, the window in English and in German.
    int testMode();
    // The host window goes away; the plug-in must end on its own 20 to 40 seconds later.
    int watchdog();

    struct CaptureRun {
        std::int32_t sensor = 1;  // the sensor to activate
        int images = 3;           // images expected from the one activation
        int acknowledge = 3;      // how many of them the host acknowledges
        int noPreview = 1;        // written to the plug-in's settings before it starts
        std::uint32_t timeoutMs = 90000;
        std::string text1;  // the text every image must carry (empty: not checked)
    };
    // A capture: the plug-in is started and initialised, the sensor activated, the images
    // received and checked (record, TIFF file image, resolution), some acknowledged, the
    // capture stopped and the plug-in shut down. The images are kept in received().
    int capture(const CaptureRun& run);
    // A capture with preview selection: three plates go into the preview window and none to the
    // host; the user clicks the second one off (screenshots in English, German and Swedish on
    // the way) and presses "&Save images"; the host gets the first and the third.
    int preview(const CaptureRun& run, PreviewDriver& ui);
    // A plate the host receives but never acknowledges; the plug-in is killed and started
    // again: it saves the plate in its Recovered folder at once.
    int recovery(const CaptureRun& run);
    struct SoakRun {
        int activations = 4;  // each one reads `plates` plates (the scanner feeds them)
        int plates = 25;
        // Acknowledged in batches of this many, newest first (the plug-in keeps at most 20
        // unacknowledged images); the rest of an activation's last batch after the next one.
        int batch = 7;
        std::uint32_t timeoutMs = 180000;  // per activation
        std::int64_t privateBytesSlack = 8 << 20;
    };
    // One plug-in life, many plates: activations and stops in between, the host acknowledging
    // in batches in reverse order, some only after the next activation. Every plate arrives once
    // with an id one above the last, and the process's counts after the last activation are those
    // after the first.
    int soak(const SoakRun& run);
    // The setup dialog opened by the host in English, German and Swedish (screenshots of it, the
    // About box and both advanced dialogs in each); in English the user sets 12 bits and a
    // noise-reduction level and presses OK: statuses, capabilities and registry are checked.
    int setup(DialogDriver& ui);
    // Checks one received ImageCapturedEx message; the TIFF file image's offset and size.
    bool checkImageMessage(const Bytes& message, const CaptureRun& run, int index);

    int failures() const { return failures_; }

  private:
    bool check(bool ok, const std::string& what, const std::string& detail = {});
    bool expectBytes(const Bytes& got, const Bytes& want, const std::string& what);
    // Sends and waits for the reply with the same code; the reply's bytes, or nothing.
    std::optional<Bytes> ask(std::int32_t code, const Bytes& data);
    bool silentFor(std::int32_t code, std::uint32_t ms);
    bool startPlugin(const std::string& args);
    void setNoPreview(int mode);
    // A value of the plug-in's machine-wide options as text ("<absent>" when there is none).
    std::string option(const std::string& name);
    // Starts and initialises the plug-in.
    bool startInitialized();
    // Waits for a message with that code and these bytes received after `from`; its index.
    int waitRecord(std::int32_t code, const Bytes& want, std::size_t from);
    // Starts and initialises the plug-in, then activates the run's sensor.
    bool startCapture(const CaptureRun& run);
    // Sends StopCapture and waits for the Idle status it brings.
    void stopCapture();
    // The indices into received() of the ImageCapturedEx messages from `from` on.
    std::vector<std::size_t> imagesSince(std::size_t from) const;
    bool waitExit(std::uint32_t timeoutMs, int& code);
    // Shuts the plug-in down; `meanwhile` runs after the command, before waiting for the end.
    bool shutdown(const std::function<void()>& meanwhile = {});

    HostCore& host_;
    PluginLauncher& launcher_;
    std::function<void(const std::string&)> out_;
    ScenarioOptions options_;
    Hwnd plugin_ = 0;
    int step_ = 0;
    int failures_ = 0;
};

// The records a correct plug-in sends, built field by field from raw offsets.
Bytes expectedStatus(std::int32_t code, bool dialog = false);
Bytes expectedCapabilities();
Bytes expectedSensorCount(std::int32_t count);
Bytes expectedInformation(std::int32_t kind, const std::string& product, const std::string& path);
Bytes expectedSensor(std::int32_t number, std::int32_t kind, const std::string& name, bool tool,
                     const std::string& text, const std::string& description);

}  // namespace quilo::testhost
