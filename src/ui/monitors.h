// The display configuration: every monitor with its rectangle and work area, and the
// placement of a form on the monitor that shows the host's window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "forms/form.h"
#include "platform/display.h"

namespace quilo::ui {

// One display monitor; coordinates are pixels of the virtual screen.
class cMonitor {
  public:
    bool IsPrimary() const { return primary_; }
    platform::HMonitor hMonitor() const { return handle_; }
    const std::string& Name() const { return name_; }
    std::int32_t Left() const { return monitor_.left; }
    std::int32_t Top() const { return monitor_.top; }
    std::int32_t Width() const { return monitor_.right - monitor_.left; }
    std::int32_t Height() const { return monitor_.bottom - monitor_.top; }
    std::int32_t WorkLeft() const { return work_.left; }
    std::int32_t WorkTop() const { return work_.top; }
    std::int32_t WorkWidth() const { return work_.right - work_.left; }
    std::int32_t WorkHeight() const { return work_.bottom - work_.top; }

    // Reads rectangle, work area, primary flag and device name of the monitor.
    void InitFromHandle(platform::Display& display, platform::HMonitor handle);

  private:
    platform::HMonitor handle_ = 0;
    std::string name_;
    platform::Rect monitor_;
    platform::Rect work_;
    bool primary_ = false;
};

// All monitors in the order the system enumerates them (indices 1 to MonitorCount).
class cMonitors {
  public:
    explicit cMonitors(platform::Display& display);

    std::int32_t AllMonitorsSame() const;
    // The monitor containing the point / showing most of the window; null when none does.
    std::unique_ptr<cMonitor> MonitorForPoint(std::int32_t x, std::int32_t y) const;
    std::unique_ptr<cMonitor> MonitorForWindow(platform::Hwnd hwnd) const;
    std::int32_t VirtualScreenLeft() const;
    std::int32_t VirtualScreenTop() const;
    std::int32_t VirtualScreenWidth() const;
    std::int32_t VirtualScreenHeight() const;
    std::int32_t DisplayMonitorCount() const;
    std::int32_t MonitorCount() const { return count_; }
    // 1-based; run-time error 9 outside 1 to MonitorCount.
    const cMonitor& Monitor(std::int32_t index) const;

    void AddMonitor(platform::HMonitor handle);
    void Refresh();

    platform::Display& display() const { return display_; }

  private:
    platform::Display& display_;
    std::int32_t count_ = 0;
    std::vector<cMonitor> monitors_;
};

// Fills `target` with the system's monitors; the enumeration reaches it through its data.
void EnumerateMonitors(cMonitors& target);
// The enumeration callback: `data` is the cMonitors being filled.
bool MonitorEnumProc(platform::HMonitor monitor, const platform::Rect& rect, void* data);

// Centres the form on the monitor that shows the host's window (`hostParentWindow`); with no
// host window, or when no monitor shows it, in a rectangle of monitor 1's size at the origin.
void CenterOnHostMonitor(forms::Form& form, platform::Hwnd hostParentWindow);

}  // namespace quilo::ui
