#include "scanner/sensor.h"

#include <algorithm>
#include <cctype>

#include "core/error.h"

namespace quilo::scanner {

namespace {
bool sameKey(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}
}  // namespace

std::string sensorKey(std::int32_t setNumber) {
    return "K" + std::to_string(setNumber);
}

void SensorCollection::add(cSensor sensor, std::string key) {
    if (find(key)) {
        throw RuntimeError(457, "This key is already associated with an element of this collection",
                           "Sensors");
    }
    items_.push_back(Entry{std::move(key), std::move(sensor)});
}

cSensor* SensorCollection::item(std::size_t position) {
    if (position < 1 || position > items_.size()) return nullptr;
    return &items_[position - 1].sensor;
}

const cSensor* SensorCollection::item(std::size_t position) const {
    if (position < 1 || position > items_.size()) return nullptr;
    return &items_[position - 1].sensor;
}

cSensor* SensorCollection::find(std::string_view key) {
    for (auto& e : items_)
        if (sameKey(e.key, key)) return &e.sensor;
    return nullptr;
}

const cSensor* SensorCollection::find(std::string_view key) const {
    for (const auto& e : items_)
        if (sameKey(e.key, key)) return &e.sensor;
    return nullptr;
}

}  // namespace quilo::scanner
