// Port: mailslots, the trace channel's writing and reading ends.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace quilo::platform {

class Mailslots {
  public:
    virtual ~Mailslots() = default;
    // CreateMailslotA for the reading end ("\\.\mailslot\..."): 0 on failure (lastError).
    virtual Handle createMailslot(std::string_view name, std::uint32_t maxMessageBytes,
                                  std::uint32_t readTimeoutMs) = 0;
    // CreateFileA(GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING) for a writing end
    // ("\\.\mailslot\..." or "\\*\mailslot\..."): 0 on failure (lastError).
    virtual Handle openMailslot(std::string_view name) = 0;
    // WriteFile of one message: false on failure (lastError).
    virtual bool write(Handle slot, std::span<const std::byte> message) = 0;
    // ReadFile of the next message of a reading end, or nothing when none is waiting.
    virtual std::optional<std::vector<std::byte>> read(Handle slot) = 0;
    virtual bool close(Handle slot) = 0;  // CloseHandle
    virtual ErrorCode lastError() = 0;
};

// Owns a mailslot handle.
class MailslotHandle {
  public:
    MailslotHandle() = default;
    MailslotHandle(Mailslots& slots, Handle h) : slots_(&slots), h_(h) {}
    MailslotHandle(const MailslotHandle&) = delete;
    MailslotHandle& operator=(const MailslotHandle&) = delete;
    MailslotHandle(MailslotHandle&& o) noexcept : slots_(o.slots_), h_(o.h_) { o.h_ = 0; }
    MailslotHandle& operator=(MailslotHandle&& o) noexcept {
        if (this != &o) {
            reset();
            slots_ = o.slots_;
            h_ = o.h_;
            o.h_ = 0;
        }
        return *this;
    }
    ~MailslotHandle() { reset(); }
    explicit operator bool() const { return h_ != 0; }
    Handle get() const { return h_; }
    void reset() {
        if (h_ && slots_) slots_->close(h_);
        h_ = 0;
    }

  private:
    Mailslots* slots_ = nullptr;
    Handle h_ = 0;
};

}  // namespace quilo::platform
