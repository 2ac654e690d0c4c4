// Mailslots: the reading end made with CreateMailslot, writing ends opened as files.
#include "platform/win32/win32_internal.h"

namespace quilo::platform::win32 {

namespace {

class Win32Mailslots final : public Mailslots {
  public:
    Handle createMailslot(std::string_view name, std::uint32_t maxMessageBytes,
                          std::uint32_t readTimeoutMs) override {
        const HANDLE h =
            CreateMailslotA(utf8ToAcp(name).c_str(), maxMessageBytes, readTimeoutMs, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            error_ = GetLastError();
            return 0;
        }
        return fromHandle(h);
    }

    Handle openMailslot(std::string_view name) override {
        const std::string path = utf8ToAcp(name);
        HANDLE h = openWriter(path);
        // "\\*\mailslot\..." writes to every computer of the domain, this one included. Where
        // the system offers no domain (Wine, a machine without a network) the local reading
        // end is all it would reach, so we open that one.
        if (h == INVALID_HANDLE_VALUE && path.rfind("\\\\*\\", 0) == 0)
            h = openWriter("\\\\.\\" + path.substr(4));
        if (h == INVALID_HANDLE_VALUE) {
            error_ = GetLastError();
            return 0;
        }
        return fromHandle(h);
    }

    bool write(Handle slot, std::span<const std::byte> message) override {
        DWORD written = 0;
        if (!WriteFile(toHandle(slot), message.data(), static_cast<DWORD>(message.size()), &written,
                       nullptr)) {
            error_ = GetLastError();
            return false;
        }
        if (written != message.size()) {
            error_ = ERROR_WRITE_FAULT;
            return false;
        }
        return true;
    }

    std::optional<std::vector<std::byte>> read(Handle slot) override {
        DWORD next = 0, count = 0;
        if (!GetMailslotInfo(toHandle(slot), nullptr, &next, &count, nullptr)) {
            error_ = GetLastError();
            return std::nullopt;
        }
        if (next == MAILSLOT_NO_MESSAGE) {
            error_ = ERROR_SEM_TIMEOUT;  // what ReadFile says when nothing came in time
            return std::nullopt;
        }
        std::vector<std::byte> message(next);
        DWORD got = 0;
        if (!ReadFile(toHandle(slot), message.data(), next, &got, nullptr)) {
            error_ = GetLastError();
            return std::nullopt;
        }
        message.resize(got);
        return message;
    }

    bool close(Handle slot) override {
        if (CloseHandle(toHandle(slot))) return true;
        error_ = GetLastError();
        return false;
    }

    ErrorCode lastError() override { return error_; }

  private:
    static HANDLE openWriter(const std::string& path) {
        // Shared with readers only, as the trace writer has always opened it: a second
        // writing end of the same slot is refused (sharing violation) while this one is open.
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ErrorCode error_ = 0;
};

}  // namespace

std::unique_ptr<Mailslots> makeMailslots() {
    return std::make_unique<Win32Mailslots>();
}

}  // namespace quilo::platform::win32
