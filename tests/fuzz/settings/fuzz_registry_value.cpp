// Registry values as the settings module receives them: any type, any bytes, any length. The
// first byte picks the value type, the second the query's result; the rest is the data. The
// accepted text then feeds every key of the record, and the record must keep its invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "settings/mod_registry.h"
#include "settings/plugin_settings.h"

using namespace quilo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    platform::RegValue value;
    value.type = static_cast<platform::RegType>(data[0] % 8);
    const platform::ErrorCode rc = (data[1] % 3 == 0)   ? platform::err::kSuccess
                                   : (data[1] % 3 == 1) ? platform::err::kMoreData
                                                        : platform::err::kFileNotFound;
    for (std::size_t i = 2; i < size; ++i)
        value.data.push_back(static_cast<std::byte>(data[i]));

    const auto text = settings::settingTextFromValue(rc, value);
    if (text) {
        if (rc != platform::err::kSuccess || value.type != platform::RegType::Sz) std::abort();
        if (value.data.size() >= settings::kRegValueBufferBytes) std::abort();
        if (text->find('\0') != std::string::npos) std::abort();
    }
    const std::string stored = text.value_or("");

    // Every key (and the older keys behind it) reads the same text.
    settings::PluginSettings record;
    std::int32_t imageType = 0;
    settings::readPluginSettings(record, imageType,
                                 [&](std::string_view, std::string_view, bool) { return stored; });
    for (auto level : {record.IntraLeadNRLevel, record.PanoLeadNRLevel, record.CephLeadNRLevel}) {
        if (level < 0 || level > 15) std::abort();
    }
    if (record.BitDepth == 0 || record.AutoStart != 0) std::abort();
    if (record.Visible != 0 && record.Visible != 1) std::abort();
    if (imageType < 0 || imageType > 2) std::abort();
    if (record.CurrentParamSet != stored) std::abort();

    // What is written reads back as the same record.
    std::map<std::string, std::string, std::less<>> written;  // the first value of each name
    settings::writePluginSettings(
        record, [&](std::string_view, std::string_view name, std::string_view t, bool) {
            written.emplace(name, t);
        });
    settings::PluginSettings back;
    std::int32_t backType = 0;
    settings::readPluginSettings(back, backType,
                                 [&](std::string_view, std::string_view name, bool) {
                                     const auto it = written.find(name);
                                     return it == written.end() ? std::string() : it->second;
                                 });
    if (!(back == record)) std::abort();
    return 0;
}
