// The Platform over the Win32 API: one object of each port, made in the port's own file.
#include "platform/win32/win32_platform.h"

#include "platform/win32/win32_internal.h"

namespace quilo::platform::win32 {

namespace {

class Win32Platform final : public Platform {
  public:
    WindowSystem& windows() override { return *windows_; }
    GlobalMemory& memory() override { return *memory_; }
    Registry& registry() override { return *registry_; }
    Profile& profile() override { return *profile_; }
    Mailslots& mailslots() override { return *mailslots_; }
    Files& files() override { return *files_; }
    Display& display() override { return *display_; }
    Process& process() override { return *process_; }
    Sound& sound() override { return *sound_; }
    Clock& clock() override { return *clock_; }
    Libraries& libraries() override { return *libraries_; }

  private:
    std::unique_ptr<WindowSystem> windows_ = makeWindowSystem();
    std::unique_ptr<GlobalMemory> memory_ = makeMemory();
    std::unique_ptr<Registry> registry_ = makeRegistry();
    std::unique_ptr<Profile> profile_ = makeProfile();
    std::unique_ptr<Mailslots> mailslots_ = makeMailslots();
    std::unique_ptr<Files> files_ = makeFiles();
    std::unique_ptr<Display> display_ = makeDisplay();
    std::unique_ptr<Process> process_ = makeProcess(*files_);
    std::unique_ptr<Sound> sound_ = makeSound();
    std::unique_ptr<Clock> clock_ = makeClock();
    std::unique_ptr<Libraries> libraries_ = makeLibraries();
};

}  // namespace

}  // namespace quilo::platform::win32

namespace quilo::platform {

std::unique_ptr<Platform> makeWin32Platform() {
    return std::make_unique<win32::Win32Platform>();
}

}  // namespace quilo::platform
