// Internals of the simulated Windows: the world's shared state and the per-process ports.
// Only the sim backend's own sources include this.
#pragma once

#include <array>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/world.h"

namespace quilo::sim {

class ProcessImpl;

namespace detail {

// ASCII lower case, as names of files, keys and windows compare.
inline char lowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string lower(std::string_view s);
bool iequals(std::string_view a, std::string_view b);
// Milliseconds since 1970-01-01 00:00 for a local time taken as it is, and back.
std::int64_t toEpochMs(const platform::LocalTime& t);
platform::LocalTime fromEpochMs(std::int64_t ms);
// "*" and "?" matching, case-insensitive, as FindFirstFile matches names.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// Something a process holds through an object the caller owns (a file, a library, an
// instance guard). The world closes it when the process ends or the world goes away.
class Tracked {
  public:
    Tracked(World::Impl& world, ProcessImpl& owner);
    Tracked(const Tracked&) = delete;
    Tracked& operator=(const Tracked&) = delete;
    ProcessImpl* owner() const { return owner_; }
    // Releases the resource now; the object stays but does nothing more.
    void detach();

  protected:
    ~Tracked();
    virtual void release() = 0;
    bool attached() const { return world_ != nullptr; }
    World::Impl* world_;
    ProcessImpl* owner_;
};

struct WindowRec {
    platform::Hwnd hwnd = 0;
    ProcessImpl* process = nullptr;
    platform::Hwnd parent = 0;
    platform::Hwnd owner = 0;
    platform::Rect rect;  // relative to the parent's origin (screen for top-level windows)
    bool visible = false;
    bool topmost = false;
    bool destroying = false;
    std::string text;
    platform::WindowHandler* proc = nullptr;  // null: default processing
};

struct QueuedMessage {
    platform::Hwnd hwnd = 0;
    platform::MsgId msg = 0;
    platform::WParam wParam = 0;
    platform::LParam lParam = 0;
};

struct TimerRec {
    std::uint32_t periodMs = 0;
    std::uint64_t due = 0;
    std::uint64_t seq = 0;  // order of setting, for timers due at the same time
};

struct MemoryBlock {
    ProcessImpl* owner = nullptr;
    std::unique_ptr<std::byte[]> data;
    std::size_t size = 0;
    int locks = 0;
};

struct RegKey {
    // lower-case value name -> value
    std::map<std::string, platform::RegValue> values;
};
using RegHive = std::map<std::string, RegKey>;  // normalised lower-case key path -> key

struct Mailslot {
    std::uint32_t maxMessage = 0;  // 0: any size
    std::deque<std::vector<std::byte>> messages;
    platform::Handle reader = 0;  // 0 once the reading end is closed
    int writers = 0;
};

// An INI file as read: its sections by lower-case name (the first section of a name), each
// with its values by lower-case key (the first of a key), and what the file looked like on
// disk then (device, inode, size, modification and change times).
struct ProfileFile {
    std::array<std::int64_t, 7> stamp{};
    std::map<std::string, std::map<std::string, std::string>> sections;
};

// A file or folder of a world whose files are kept in memory, under the native path it maps to
// (spelled as when it was made).
struct MemoryNode {
    // What a file's names share (see Files::link).
    struct Data {
        std::vector<std::byte> bytes;
        std::int64_t modifiedMs = 0;  // virtual local time, as toEpochMs gives it
        std::uint64_t version = 0;    // a new number with every change of the content
    };
    std::filesystem::path native;
    bool directory = false;
    std::shared_ptr<Data> data = std::make_shared<Data>();
};

enum class FileKind { None, File, Directory };

struct SlotHandle {
    ProcessImpl* owner = nullptr;
    std::string slot;  // key into World::Impl::mailslots
    bool reader = false;
};

struct FaultState {
    std::size_t calls = 0;
    bool always = false;
    std::vector<int> countdowns;
};

}  // namespace detail

struct World::Impl {
    explicit Impl(World& self, WorldOptions opts);
    ~Impl();

    World& self;
    WorldOptions options;
    bool ownsRoot = false;
    std::uint64_t now = 0;  // virtual tick count, not wrapped

    std::vector<std::unique_ptr<ProcessImpl>> processes;
    std::uint32_t nextProcessId = 0x1A4C;

    // windows and messages
    std::map<std::string, platform::MsgId> registeredMessages;  // lower-case name -> id
    std::map<platform::Hwnd, detail::WindowRec> windows;        // handles grow: creation order
    platform::Hwnd nextHwnd = 0x000A01C6;
    std::deque<detail::QueuedMessage> queue;
    std::map<std::pair<platform::Hwnd, std::uintptr_t>, detail::TimerRec> timers;
    std::uint64_t timerSeq = 0;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::function<void()>> events;
    std::uint64_t eventSeq = 0;
    std::map<platform::WndProcRef, platform::WindowHandler*> procByRef;
    std::map<platform::WindowHandler*, platform::WndProcRef> refByProc;

    // kernel objects
    std::map<platform::HGlobal, detail::MemoryBlock> blocks;
    platform::HGlobal nextBlock = 0x00830008;
    platform::Handle nextHandle = 0x01A4;
    std::map<std::string, detail::RegHive> userHives;  // lower-case user name -> HKCU
    detail::RegHive machineHive;
    std::map<std::string, detail::Mailslot> mailslots;  // lower-case slot path
    std::map<platform::Handle, detail::SlotHandle> slotHandles;
    std::map<std::string, ProcessImpl*> instanceNames;
    // Open files by native path: how many ends read and how many write.
    std::map<std::string, std::pair<int, int>> openFiles;
    // INI files read, by native path, so a run of reads parses a file once. The simulation's
    // own writes, moves and removals drop a file's entry; a change made beside the simulation
    // is seen in the file's stamp.
    std::map<std::string, detail::ProfileFile> profiles;
    // Windows paths found on disk spelled exactly as given, so a path used again costs one
    // look-up (that it is still there) instead of being taken apart and put together again.
    // With the files in memory: every path resolved since the last file or folder was made,
    // removed or moved.
    std::map<std::string, std::filesystem::path, std::less<>> exactPaths;
    // The files and folders of a world kept in memory, by lower-case native path.
    std::map<std::string, detail::MemoryNode> memoryFiles;
    std::uint64_t memoryVersion = 0;
    std::set<detail::Tracked*> tracked;

    // configuration
    std::vector<platform::MonitorInfo> monitors;
    int twipsX = 15, twipsY = 15;
    std::vector<SimLibrary> libraries;

    std::array<detail::FaultState, static_cast<std::size_t>(Fault::Count)> faults{};

    // --- helpers ---
    // Counts the call and says whether it fails; calls of other processes than the one faults
    // are confined to neither count nor fail.
    bool shouldFail(Fault fault, const SimProcess* caller);
    const SimProcess* faultProcess = nullptr;
    platform::Handle newHandle();
    detail::WindowRec* window(platform::Hwnd hwnd);
    platform::LResult callProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam w,
                               platform::LParam l);
    platform::LResult defaultProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam w,
                                  platform::LParam l);
    platform::WndProcRef refFor(platform::WindowHandler* proc);
    void destroyWindowTree(platform::Hwnd hwnd, bool notify);
    std::vector<platform::Hwnd> topLevelWindows() const;
    platform::Rect screenRect(platform::Hwnd hwnd);

    // the scheduler
    enum class Step { Dispatched, Quit, Idle };
    Step stepNow(ProcessImpl* loop);
    std::optional<std::uint64_t> nextWake() const;
    // Moves the clock to the next timer or event for a loop that waits; throws Deadlock when
    // there is nothing left to wait for.
    void waitForWork(std::uint64_t loopStart);
    void dispatch(const detail::QueuedMessage& m);
    platform::LocalTime localTime() const;

    void endProcess(ProcessImpl& p, bool worldEnding);
    detail::RegHive& hive(platform::RegRoot root, ProcessImpl& p);

    // The file system, on disk or in memory: what a native path names, and (in memory) the
    // node itself.
    bool inMemory() const { return options.filesInMemory; }
    detail::FileKind kindOf(const std::filesystem::path& native);
    detail::MemoryNode* memoryNode(const std::filesystem::path& native);
    // A file or folder kept in memory made, or one removed.
    detail::MemoryNode& addMemoryNode(const std::filesystem::path& native);
    void removeMemoryNode(const std::string& key);
};

}  // namespace quilo::sim

namespace quilo::sim {

class SimWindows final : public platform::WindowSystem {
  public:
    explicit SimWindows(ProcessImpl& p) : p_(p) {}
    platform::MsgId registerWindowMessage(std::string_view name) override;
    platform::Hwnd createWindow(const platform::WindowSpec& spec,
                                platform::WindowHandler* handler) override;
    bool destroyWindow(platform::Hwnd hwnd) override;
    bool isWindow(platform::Hwnd hwnd) override;
    platform::LResult defWindowProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam w,
                                    platform::LParam l) override;
    platform::WndProcRef subclassWindow(platform::Hwnd hwnd,
                                        platform::WindowHandler* handler) override;
    platform::LResult callWindowProc(platform::WndProcRef previous, platform::Hwnd hwnd,
                                     platform::MsgId msg, platform::WParam w,
                                     platform::LParam l) override;
    bool restoreWindowProc(platform::Hwnd hwnd, platform::WndProcRef previous) override;
    platform::LResult sendMessage(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam w,
                                  platform::LParam l) override;
    bool postMessage(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam w,
                     platform::LParam l) override;
    bool sendNotifyMessage(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam w,
                           platform::LParam l) override;
    platform::ErrorCode lastError() override;
    platform::Hwnd setParent(platform::Hwnd child, platform::Hwnd newParent) override;
    platform::Hwnd getParent(platform::Hwnd hwnd) override;
    platform::Hwnd getOwner(platform::Hwnd hwnd) override;
    bool setWindowPos(platform::Hwnd hwnd, platform::Hwnd insertAfter, platform::Rect rect,
                      std::uint32_t flags) override;
    platform::Rect windowRect(platform::Hwnd hwnd) override;
    bool isTopmost(platform::Hwnd hwnd) override;
    bool showWindow(platform::Hwnd hwnd, bool visible) override;
    bool isVisible(platform::Hwnd hwnd) override;
    bool setWindowText(platform::Hwnd hwnd, std::string_view text) override;
    std::string windowText(platform::Hwnd hwnd) override;
    bool setTimer(platform::Hwnd hwnd, std::uintptr_t id, std::uint32_t ms) override;
    bool killTimer(platform::Hwnd hwnd, std::uintptr_t id) override;
    int runMessageLoop() override;
    void postQuitMessage(int exitCode) override;
    bool pumpPending() override;
    bool runModalLoop(const std::function<bool()>& done) override;

  private:
    platform::LResult sendOne(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam w,
                              platform::LParam l);
    detail::WindowRec* find(platform::Hwnd hwnd);  // sets kInvalidWindowHandle when missing
    ProcessImpl& p_;
};

class SimMemory final : public platform::GlobalMemory {
  public:
    explicit SimMemory(ProcessImpl& p) : p_(p) {}
    platform::HGlobal alloc(std::uint32_t flags, std::size_t bytes) override;
    void* lock(platform::HGlobal block) override;
    bool unlock(platform::HGlobal block) override;
    bool free(platform::HGlobal block) override;
    std::size_t size(platform::HGlobal block) override;

  private:
    detail::MemoryBlock* find(platform::HGlobal block);
    ProcessImpl& p_;
};

class SimRegistry final : public platform::Registry {
  public:
    explicit SimRegistry(ProcessImpl& p) : p_(p) {}
    platform::ErrorCode queryValue(platform::RegRoot root, std::string_view key,
                                   std::string_view name, std::size_t bufferBytes,
                                   platform::RegValue& out) override;
    platform::ErrorCode createKey(platform::RegRoot root, std::string_view key) override;
    platform::ErrorCode setValue(platform::RegRoot root, std::string_view key,
                                 std::string_view name, platform::RegType type,
                                 std::span<const std::byte> data) override;
    platform::ErrorCode deleteValue(platform::RegRoot root, std::string_view key,
                                    std::string_view name) override;
    platform::ErrorCode deleteTree(platform::RegRoot root, std::string_view key) override;

  private:
    ProcessImpl& p_;
};

class SimProfile final : public platform::Profile {
  public:
    explicit SimProfile(ProcessImpl& p) : p_(p) {}
    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::string_view path,
                          std::size_t bufferChars) override;

  private:
    ProcessImpl& p_;
};

class SimMailslots final : public platform::Mailslots {
  public:
    explicit SimMailslots(ProcessImpl& p) : p_(p) {}
    platform::Handle createMailslot(std::string_view name, std::uint32_t maxMessageBytes,
                                    std::uint32_t readTimeoutMs) override;
    platform::Handle openMailslot(std::string_view name) override;
    bool write(platform::Handle slot, std::span<const std::byte> message) override;
    std::optional<std::vector<std::byte>> read(platform::Handle slot) override;
    bool close(platform::Handle slot) override;
    platform::ErrorCode lastError() override;

  private:
    ProcessImpl& p_;
};

class SimFiles final : public platform::Files {
  public:
    explicit SimFiles(ProcessImpl& p) : p_(p) {}
    std::string programFolder() override;
    std::string programName() override;
    std::string tempFolder() override;
    std::string tempFileName(std::string_view folder, std::string_view prefix) override;
    std::string userDataFolder() override;
    bool setCurrentDirectory(std::string_view path) override;
    std::unique_ptr<platform::File> open(std::string_view path, platform::OpenMode mode) override;
    bool exists(std::string_view path) override;
    bool isDirectory(std::string_view path) override;
    bool createDirectories(std::string_view path) override;
    bool removeFile(std::string_view path) override;
    bool moveFile(std::string_view from, std::string_view to) override;
    bool link(std::string_view existing, std::string_view newName) override;
    int linkCount(std::string_view path) override;
    using platform::Files::writeInBackground;
    std::unique_ptr<platform::PendingWrite> writeInBackground(
        std::string_view path, std::span<const std::byte> head,
        std::span<const std::byte> bytes) override;
    bool deadProcess();
    std::optional<platform::LocalTime> lastModified(std::string_view path) override;
    std::vector<std::string> list(std::string_view folder, std::string_view pattern) override;
    std::string nativePath(std::string_view path) override;
    platform::ErrorCode lastError() override;

    // The absolute Windows path of `path` (relative paths start at the current directory).
    std::string absolute(std::string_view path) const;
    std::filesystem::path native(std::string_view path) const;
    std::string currentDirectory;

  private:
    ProcessImpl& p_;
};

class SimDisplay final : public platform::Display {
  public:
    explicit SimDisplay(ProcessImpl& p) : p_(p) {}
    bool enumDisplayMonitors(MonitorEnumProc proc, void* data) override;
    bool monitorInfo(platform::HMonitor monitor, platform::MonitorInfo& out) override;
    platform::HMonitor monitorFromWindow(platform::Hwnd hwnd, std::uint32_t flags) override;
    platform::HMonitor monitorFromPoint(platform::Point pt, std::uint32_t flags) override;
    int systemMetrics(int index) override;
    int twipsPerPixelX() override;
    int twipsPerPixelY() override;

  private:
    platform::HMonitor fromRect(const platform::Rect& r, std::uint32_t flags);
    ProcessImpl& p_;
};

class SimProcessPort final : public platform::Process {
  public:
    explicit SimProcessPort(ProcessImpl& p) : p_(p) {}
    std::string commandLine() override;
    std::unique_ptr<platform::InstanceGuard> acquireSingleInstance(std::string_view name) override;
    platform::VersionInfo version() override;
    int messageBox(platform::Hwnd owner, std::string_view text, std::string_view caption,
                   std::uint32_t style) override;
    void setMousePointer(int pointer) override;
    int mousePointer() override;
    bool startProgram(std::string_view path, std::string_view arguments) override;
    std::string errorText(platform::ErrorCode code) override;
    char decimalSeparator() override;

  private:
    ProcessImpl& p_;
};

class SimSound final : public platform::Sound {
  public:
    explicit SimSound(ProcessImpl& p) : p_(p) {}
    bool playSound(std::string_view name, std::uint32_t flags) override;

  private:
    ProcessImpl& p_;
};

class SimClock final : public platform::Clock {
  public:
    explicit SimClock(ProcessImpl& p) : p_(p) {}
    std::uint32_t tickCount() override;
    platform::LocalTime localTime() override;

  private:
    ProcessImpl& p_;
};

class SimLibraries final : public platform::Libraries {
  public:
    explicit SimLibraries(ProcessImpl& p) : p_(p) {}
    std::unique_ptr<platform::Library> load(std::string_view path) override;
    platform::ErrorCode lastError() override;

  private:
    ProcessImpl& p_;
};

class ProcessImpl final : public SimProcess {
  public:
    ProcessImpl(World& world, std::uint32_t id, ProcessOptions options);

    platform::WindowSystem& windows() override { return windows_; }
    platform::GlobalMemory& memory() override { return memory_; }
    platform::Registry& registry() override { return registry_; }
    platform::Profile& profile() override { return profile_; }
    platform::Mailslots& mailslots() override { return mailslots_; }
    platform::Files& files() override { return files_; }
    platform::Display& display() override { return display_; }
    platform::Process& process() override { return process_; }
    platform::Sound& sound() override { return sound_; }
    platform::Clock& clock() override { return clock_; }
    platform::Libraries& libraries() override { return libraries_; }

    World& world() override { return world_; }
    std::uint32_t id() const override { return id_; }
    void scriptMessageBoxAnswers(std::vector<int> answers) override;
    const std::vector<MessageBoxRecord>& messageBoxes() const override { return boxes_; }
    const std::vector<SoundRecord>& sounds() const override { return sounds_; }
    const std::vector<std::string>& startedPrograms() const override { return started_; }
    void forgetRecords() override {
        boxes_ = {};
        sounds_ = {};
        started_ = {};
    }

    World::Impl& w() { return world_.impl(); }
    const ProcessOptions& options() const { return options_; }
    void fail(platform::ErrorCode code) { lastError_ = code; }

    platform::ErrorCode lastError_ = 0;
    bool ended = false;
    bool quitPending = false;
    int quitCode = 0;
    int pointer = platform::pointer::kDefault;
    std::deque<int> answers;
    std::vector<MessageBoxRecord> boxes_;
    std::vector<SoundRecord> sounds_;
    std::vector<std::string> started_;

  private:
    World& world_;
    std::uint32_t id_;
    ProcessOptions options_;
    SimWindows windows_{*this};
    SimMemory memory_{*this};
    SimRegistry registry_{*this};
    SimProfile profile_{*this};
    SimMailslots mailslots_{*this};
    SimFiles files_{*this};
    SimDisplay display_{*this};
    SimProcessPort process_{*this};
    SimSound sound_{*this};
    SimClock clock_{*this};
    SimLibraries libraries_{*this};
};

}  // namespace quilo::sim
