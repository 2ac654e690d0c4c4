// Human-readable renderings of the protocol's records, for the test host's log and the demo.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quilo::testhost {

// The name of a command code ("GetInformation(4)").
std::string commandLabel(std::int32_t code);
// One line describing a record sent with `code` (a reply or an unprompted message).
std::string decodeRecord(std::int32_t code, std::span<const std::byte> data);
// The bytes as hex, 16 to a line, for failure reports.
std::string hexDump(std::span<const std::byte> data);

}  // namespace quilo::testhost
