// The order gate's bookkeeping: who takes part, who has enrolled, whose turn it is.
#include "ingest/order_gate.h"

namespace cw {

OrderGate::Ticket& OrderGate::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    release();
    gate_ = other.gate_;
    other.gate_ = nullptr;
  }
  return *this;
}

void OrderGate::Ticket::release() {
  if (gate_) gate_->leave();
  gate_ = nullptr;
}

bool OrderGate::Ticket::awaited() const { return gate_ && gate_->awaited(); }

bool OrderGate::awaited() {
  std::lock_guard<std::mutex> hold(mutex_);
  return refused_while_held_;
}

void OrderGate::begin_batch(const std::vector<bool>& participants) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    slots_[i] = Seat{};
    slots_[i].participant = i < participants.size() && participants[i];
  }
  ++generation_;
  changed_.notify_all();
}

void OrderGate::withdraw(int slot) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (slot >= 0 && static_cast<std::size_t>(slot) < slots_.size())
      slots_[static_cast<std::size_t>(slot)].withdrawn = true;
    ++generation_;
  }
  changed_.notify_all();
}

bool OrderGate::turn_of(int slot) const {
  const bool known = slot >= 0 && static_cast<std::size_t>(slot) < slots_.size();
  if (!known || !slots_[static_cast<std::size_t>(slot)].participant) return true;
  const Seat* first = nullptr;
  for (const Seat& s : slots_) {
    // A participant that ended (its card unreadable, or stopped while it waited) will never
    // name: it holds up nobody.
    if (!s.participant || s.withdrawn) continue;
    if (!s.enrolled) return false;  // every running participant must have enrolled
    if (!s.named && (!first || s.key < first->key)) first = &s;
  }
  return first == &slots_[static_cast<std::size_t>(slot)];
}

std::optional<OrderGate::Ticket> OrderGate::try_enter(int slot, std::time_t key) {
  std::unique_lock<std::mutex> hold(mutex_);
  const bool known = slot >= 0 && static_cast<std::size_t>(slot) < slots_.size();
  Seat* self = known ? &slots_[static_cast<std::size_t>(slot)] : nullptr;
  if (self && self->participant && !self->enrolled) {
    self->enrolled = true;
    self->key = key;
    ++generation_;  // the last to enrol may complete the order
    changed_.notify_all();
  }
  if (held_ || !turn_of(slot)) {
    (self ? self->refused_at : outsider_refused_at_) = generation_;
    refused_while_held_ = refused_while_held_ || held_;
    return std::nullopt;
  }
  held_ = true;
  refused_while_held_ = false;
  if (self) self->named = true;
  return Ticket(this);
}

void OrderGate::leave() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    held_ = false;
    ++generation_;
  }
  changed_.notify_all();
}

void OrderGate::wait(int slot, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(mutex_);
  const bool known = slot >= 0 && static_cast<std::size_t>(slot) < slots_.size();
  const unsigned long seen = known ? slots_[static_cast<std::size_t>(slot)].refused_at
                                   : outsider_refused_at_;
  changed_.wait_for(hold, timeout, [&] { return generation_ != seen; });
}

}  // namespace cw
