// One parameter set of the scanner, offered to the host as a sensor, and the collection of
// them keyed "K" followed by the set number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quilo::scanner {

// A plain property holder: a new one holds the empty text, 0 and false.
struct cSensor {
    std::string ParamName;       // the set's name as the library reports it
    std::int32_t OrdinalNo = 0;  // the set's number in the library, 1-based
    bool bShowAsTool = false;    // offered as a tool of its own
    std::int32_t ImageType = 0;  // 0 intraoral, 1 cephalometric, 2 panoramic
    bool Perio = false;          // the name contains PERIO
};

inline constexpr std::int32_t kIntraoral = 0;
inline constexpr std::int32_t kCephalometric = 1;
inline constexpr std::int32_t kPanoramic = 2;

// An ordered collection whose items can also be found by key. Keys compare without regard to
// letter case, as collection keys do.
class SensorCollection {
  public:
    // Throws RuntimeError 457 when the key is already taken.
    void add(cSensor sensor, std::string key);
    std::size_t count() const { return items_.size(); }
    // 1-based position; null outside 1..count.
    cSensor* item(std::size_t position);
    const cSensor* item(std::size_t position) const;
    // Null when no item has that key.
    cSensor* find(std::string_view key);
    const cSensor* find(std::string_view key) const;
    void clear() { items_.clear(); }

    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    struct Entry {
        std::string key;
        cSensor sensor;
    };

  private:
    std::vector<Entry> items_;
};

// "K" followed by the set number in decimal.
std::string sensorKey(std::int32_t setNumber);

}  // namespace quilo::scanner
