// Language files as they come from disk: any bytes. The first byte chooses translator mode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/language/language_file.h"

using namespace quilo::ui;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool translator = (data[0] & 1) != 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const ParsedLanguage parsed = parseLanguageFile(bytes, translator);

    std::size_t entryLines = 0;
    for (auto line : splitLines(bytes)) {
        if (line.find('\r') != std::string_view::npos || line.find('\n') != std::string_view::npos)
            std::abort();
        if (isEntryLine(line)) ++entryLines;
    }
    if (parsed.entries.size() != entryLines) std::abort();
    if (parsed.error != 0 && parsed.error != lang_error::kTypeMismatch &&
        parsed.error != lang_error::kOverflow)
        std::abort();
    if (parsed.error == 0 && !parsed.failedLine.empty()) std::abort();
    if (translator && parsed.error == 0) {
        for (const auto& e : parsed.entries) {
            if (e.text.rfind(std::to_string(e.number) + "*", 0) != 0) std::abort();
        }
    }
    return 0;
}
