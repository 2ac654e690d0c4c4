// Scoped listener registrations. A source keeps its listener in a ListenerSlot; attaching a
// listener gives back a Registration that detaches it again when it goes. Either side may go
// first: a registration whose source has gone ends without touching it, and a source never
// calls a listener whose registration has ended.
#pragma once

#include <memory>
#include <utility>

namespace quilo {

namespace detail {
struct ListenerCell {
    void* listener = nullptr;
};
}  // namespace detail

// Move-only; ends the registration it holds when destroyed, reset or assigned over.
class [[nodiscard]] Registration {
  public:
    Registration() = default;
    Registration(std::weak_ptr<detail::ListenerCell> cell, void* listener)
        : cell_(std::move(cell)), listener_(listener) {}
    ~Registration() { reset(); }
    Registration(Registration&& other) noexcept
        : cell_(std::move(other.cell_)), listener_(std::exchange(other.listener_, nullptr)) {}
    Registration& operator=(Registration&& other) noexcept {
        if (this != &other) {
            reset();
            cell_ = std::move(other.cell_);
            listener_ = std::exchange(other.listener_, nullptr);
        }
        return *this;
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    // Detaches the listener unless another one has taken its place meanwhile.
    void reset() {
        if (const auto cell = cell_.lock(); cell && cell->listener == listener_)
            cell->listener = nullptr;
        cell_.reset();
        listener_ = nullptr;
    }
    bool active() const {
        const auto cell = cell_.lock();
        return cell && listener_ != nullptr && cell->listener == listener_;
    }

  private:
    std::weak_ptr<detail::ListenerCell> cell_;
    void* listener_ = nullptr;
};

// The one listener of a kind a source talks to; attaching another replaces it.
template <class Listener>
class ListenerSlot {
  public:
    ListenerSlot() = default;
    ListenerSlot(const ListenerSlot&) = delete;
    ListenerSlot& operator=(const ListenerSlot&) = delete;

    Registration attach(Listener& listener) {
        void* erased = static_cast<void*>(&listener);
        cell_->listener = erased;
        return Registration(cell_, erased);
    }
    Listener* get() const { return static_cast<Listener*>(cell_->listener); }

  private:
    std::shared_ptr<detail::ListenerCell> cell_ = std::make_shared<detail::ListenerCell>();
};

}  // namespace quilo
