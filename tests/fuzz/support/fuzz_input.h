// The fuzz targets' reader of their input: bytes and little-endian words from the front, zeros
// once it is used up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace quilo::test {

class FuzzInput {
  public:
    FuzzInput() = default;
    FuzzInput(const std::uint8_t* d, std::size_t n) { reset(d, n); }
    void reset(const std::uint8_t* d, std::size_t n) {
        d_ = d;
        n_ = n;
        at_ = 0;
    }
    bool empty() const { return at_ >= n_; }
    std::uint8_t byte() { return at_ < n_ ? d_[at_++] : 0; }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return v;
    }
    // Up to n bytes, fewer at the end of the input.
    std::vector<std::byte> bytes(std::size_t n) {
        std::vector<std::byte> v;
        while (n-- && at_ < n_)
            v.push_back(static_cast<std::byte>(d_[at_++]));
        return v;
    }
    // The rest of the input, as text.
    std::string rest() {
        std::string s(reinterpret_cast<const char*>(d_) + at_, n_ - at_);
        at_ = n_;
        return s;
    }

  private:
    const std::uint8_t* d_ = nullptr;
    std::size_t n_ = 0;
    std::size_t at_ = 0;
};

// With QUILO_FUZZ_ECHO set in the environment, a target prints what each input led to (a hash
// of it, one line an input). Running a corpus in two orders and comparing the lines shows
// whether an input does the same alone and after others, that is whether the state the
// target keeps between inputs is reset well enough for a finding to be reproduced.
inline bool echoing() {
    static const bool on = std::getenv("QUILO_FUZZ_ECHO") != nullptr;
    return on;
}
inline void echoOutcome(std::string_view outcome) {
    if (!echoing()) return;
    std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
    for (const char c : outcome)
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    std::fprintf(stderr, "outcome %016llx\n", static_cast<unsigned long long>(h));
}

}  // namespace quilo::test
