// The order gate: concurrent runs of one batch name their images one run after another, in
// the order of their first images' times, so that sequence numbers and number ranges follow
// the cards' shooting order whatever order the cards were read in.
//
// Each run of the batch is a participant. A participant enrols with its key (its first
// image's time) when it reaches the gate; the gate opens for the participant with the lowest
// key that has not named yet once every participant still running has enrolled, and only
// while no other run holds it. The grant is a Ticket: the holder names its images, and the
// Ticket's destruction lets the next run in. A participant that ends without naming (its card
// could not be read, or it was stopped while it waited) is withdrawn so it holds up nobody.
#pragma once

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <optional>
#include <vector>

namespace cw {

class OrderGate {
 public:
  // The right to name: held from the grant to the end of the holder's naming.
  class Ticket {
   public:
    Ticket(Ticket&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
    Ticket& operator=(Ticket&& other) noexcept;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    ~Ticket() { release(); }
    // Gives the gate back before the ticket's end.
    void release();
    // True once another run has asked for the gate since this ticket was granted: the holder
    // should finish naming without waiting for anything else.
    bool awaited() const;

   private:
    friend class OrderGate;
    explicit Ticket(OrderGate* gate) : gate_(gate) {}
    OrderGate* gate_;
  };

  explicit OrderGate(int slots) : slots_(static_cast<std::size_t>(slots)) {}
  OrderGate(const OrderGate&) = delete;
  OrderGate& operator=(const OrderGate&) = delete;

  // A new batch: `participants[i]` says whether slot i takes part; nobody has enrolled.
  void begin_batch(const std::vector<bool>& participants);
  // Slot `slot` ended: if it has not named, it no longer holds up the others.
  void withdraw(int slot);
  // Enrols the slot (the first time) and grants the gate when it is the slot's turn. A slot
  // that is not a participant of the batch (or out of range) is granted whenever the gate is
  // free.
  std::optional<Ticket> try_enter(int slot, std::time_t key);
  // Waits until the gate may have opened for `slot` since it was last refused, at most
  // `timeout`.
  void wait(int slot, std::chrono::milliseconds timeout);

 private:
  struct Seat {
    bool participant = false, enrolled = false, named = false, withdrawn = false;
    std::time_t key = 0;
    unsigned long refused_at = 0;  // the generation its last refusal saw
  };
  void leave();
  bool awaited();
  bool turn_of(int slot) const;  // with mutex_ held

  std::mutex mutex_;
  std::condition_variable changed_;
  unsigned long generation_ = 0;
  bool held_ = false;
  bool refused_while_held_ = false;  // a run was refused because the gate was held
  unsigned long outsider_refused_at_ = 0;
  std::vector<Seat> slots_;
};

}  // namespace cw
