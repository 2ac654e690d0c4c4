// The simulated Windows: one deterministic world of processes, windows, a message queue, a
// virtual clock, a registry, mailslots, monitors and a file system mapped onto a real
// temporary directory or kept in memory. Tests create a World, then one SimProcess per program in
// it; each SimProcess is a complete platform::Platform for the code under test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace quilo::sim {

class World;

// Operations whose failure a test can inject.
enum class Fault {
    GlobalAlloc,     // GlobalAlloc returns 0 (lastError kNotEnoughMemory)
    GlobalLock,      // GlobalLock returns null
    FileWrite,       // File::write fails (kWriteFault)
    FileCreate,      // Files::open for writing fails (kAccessDenied)
    MailslotWrite,   // Mailslots::write fails (kWriteFault)
    MailslotCreate,  // createMailslot / openMailslot fail
    RegistryCreate,  // Registry::createKey / setValue fail to create the key (kAccessDenied)
    RegistrySet,     // Registry::setValue fails (kAccessDenied)
    PostMessage,     // postMessage fails (kNotEnoughQuota)
    SendMessage,     // sendMessage to another process returns 0 without calling it
    LoadLibrary,     // Libraries::load fails (kFileNotFound)
    CreateWindow,    // createWindow returns 0 (kNotEnoughMemory) before WM_CREATE
    Count            // how many there are; not an operation
};

struct MessageBoxRecord {
    platform::Hwnd owner = 0;
    std::string text;
    std::string caption;
    std::uint32_t style = 0;
    int answer = 0;
};

struct SoundRecord {
    std::uint32_t atMs = 0;  // virtual time
    std::string name;
    std::uint32_t flags = 0;
};

struct ProcessOptions {
    // The program's full Windows path; its folder is the program folder.
    std::string exePath = "C:\\Program Files\\Kelvora\\Quilo\\QuiloPlugin.exe";
    std::string commandLine;
    platform::VersionInfo version{
        "Quilo Plugin", "Kelvora", "Quilo Plugin", "QuiloPlugin", 1, 0, 0};
    std::string userName = "clinic";  // selects the per-user data folder and HKCU hive
    char decimalSeparator = '.';      // the user locale's
};

class SimProcess : public platform::Platform {
  public:
    ~SimProcess() override = default;
    virtual World& world() = 0;
    virtual std::uint32_t id() const = 0;
    // Message boxes: each is recorded and answered with the next scripted answer (default:
    // kIdOk, or the first button of its style).
    virtual void scriptMessageBoxAnswers(std::vector<int> answers) = 0;
    virtual const std::vector<MessageBoxRecord>& messageBoxes() const = 0;
    virtual const std::vector<SoundRecord>& sounds() const = 0;
    // Programs started with Process::startProgram.
    virtual const std::vector<std::string>& startedPrograms() const = 0;
    // Forgets the message boxes, sounds and started programs recorded so far: a world that lives
    // through many scenarios would otherwise keep every one.
    virtual void forgetRecords() = 0;
};

// A library that exists in the simulated world: LoadLibrary of a path whose file name matches
// `fileName` (case-insensitive) serves these exports.
struct SimLibrary {
    std::string fileName;  // "OrvaneEx.dll"
    std::map<std::string, void*, std::less<>> exports;
};

struct WorldOptions {
    // The real directory onto which drive paths map ("C:\a\b" -> root/C/a/b); a fresh
    // temporary directory, removed with the world, when empty.
    std::filesystem::path root;
    // Files and folders kept in memory instead, under native paths below the root that nothing
    // is made at: the same names, sharing, errors, faults and times, far faster, but nothing
    // beside the simulation sees them or can change them.
    bool filesInMemory = false;
    std::uint32_t startTickMs = 1000;
    platform::LocalTime startTime{2026, 12, 6, 9, 0, 0, 0};
    // A waiting message loop that would have to let more virtual time than this pass in one
    // go throws Deadlock instead (a loop that waits on timers that can never end it).
    std::uint64_t maxLoopWaitMs = 24ull * 3600 * 1000;
};

struct LiveCounts {
    std::size_t memoryBlocks = 0;
    std::size_t handles = 0;  // files, mailslots, instance guards, libraries
    std::size_t windows = 0;
    std::size_t timers = 0;
    friend bool operator==(const LiveCounts&, const LiveCounts&) = default;
};

// Raised when a modal loop or message loop waits for something that can never happen: no
// message queued, no timer set and no scripted event left.
class Deadlock : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class World {
  public:
    explicit World(WorldOptions options = {});
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    SimProcess& createProcess(ProcessOptions options = {});
    // Ends a process as Windows would: its windows, timers, handles and guards go away.
    void endProcess(SimProcess& process);

    // --- virtual time -------------------------------------------------------------------
    std::uint32_t nowMs() const;  // the tick count
    // Lets `ms` pass: dispatches queued messages, fires timers and scripted events in time
    // order (a timer is due every `ms` of its period; WM_TIMER is delivered when nothing else
    // is queued).
    void advance(std::uint32_t ms);
    // Dispatches everything queued now without letting time pass.
    void runUntilIdle();
    // The running code keeps the program busy for `ms`: the clock moves on and nothing is
    // dispatched; timers that fall due meanwhile fire once, later.
    void spend(std::uint32_t ms);
    // A scripted event (the user clicking, a device answering) at an absolute virtual time.
    // Message loops and modal loops that wait advance the clock to it.
    void at(std::uint32_t timeMs, std::function<void()> action);
    void after(std::uint32_t delayMs, std::function<void()> action);

    // --- configuration ----------------------------------------------------------------
    void setMonitors(std::vector<platform::MonitorInfo> monitors);  // default: one 1920x1080
    void setTwipsPerPixel(int x, int y);                            // default 15, 15
    void registerLibrary(SimLibrary library);
    // The native path a Windows path maps to (creating nothing). Files kept in memory are
    // only reached through the processes' ports.
    std::filesystem::path nativePath(std::string_view windowsPath) const;

    // --- faults and accounting ----------------------------------------------------------
    // The `nth` call (1 = the next one) of that operation, from now on, fails once.
    void failNth(Fault fault, int nth = 1);
    // Every call of that operation fails until cleared.
    void failAlways(Fault fault, bool on = true);
    // How many calls of that operation the world has seen, failed ones included: a test runs
    // a scenario once to count them, then fails each in turn.
    std::size_t calls(Fault fault) const;
    // Confines faults and their counting to the calls of one process (null: every process).
    void faultsOnlyIn(const SimProcess* process);
    LiveCounts live() const;

    // Everything a mailslot reader of that name would read, for tests that look at traces
    // without opening a reading end themselves; empty when none was created.
    // (Tests normally create the reading end through Mailslots like the viewer does.)

    struct Impl;
    Impl& impl() { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace quilo::sim
