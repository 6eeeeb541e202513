// The order gate, stepped by hand: who is let in, when, and what lets the next one in.
#include "ingest/order_gate.h"

#include <gtest/gtest.h>

#include <chrono>

namespace cw {
namespace {

TEST(OrderGate, OpensInKeyOrderOnceEveryRunningParticipantHasEnrolled) {
  OrderGate gate(4);
  gate.begin_batch({true, true, true, false});  // slot 3 takes no part

  // The latest card arrives first: it must wait for the others to enrol.
  EXPECT_FALSE(gate.try_enter(0, 300));
  EXPECT_FALSE(gate.try_enter(1, 100));
  // Slot 2 ends without enrolling (its card could not be read): it holds up nobody.
  gate.withdraw(2);
  EXPECT_FALSE(gate.try_enter(0, 300));  // the earlier card's turn
  std::optional<OrderGate::Ticket> first = gate.try_enter(1, 100);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->awaited());
  // While the earliest card names its images, nobody else gets in, not even a run outside
  // the batch; the holder learns that it is waited for.
  EXPECT_FALSE(gate.try_enter(0, 300));
  EXPECT_TRUE(first->awaited());
  EXPECT_FALSE(gate.try_enter(3, 0));
  first->release();
  std::optional<OrderGate::Ticket> second = gate.try_enter(0, 300);
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->awaited());
  // The slot that named already is not let in again in this batch; the ticket's end frees
  // the gate for outsiders.
  second.reset();
  EXPECT_FALSE(gate.try_enter(1, 100));
  EXPECT_TRUE(gate.try_enter(3, 0));

  // A new batch starts from nothing.
  gate.begin_batch({false, true});
  EXPECT_TRUE(gate.try_enter(1, 5));

  gate.begin_batch({true, true});
  EXPECT_FALSE(gate.try_enter(0, 100));
  EXPECT_FALSE(gate.try_enter(1, 200));
  // Slot 0 enrolled with the lower key, then was stopped before its turn came.
  gate.withdraw(0);
  EXPECT_TRUE(gate.try_enter(1, 200));
  // A wait returns at once when something changed since the slot's last refusal.
  OrderGate other(1);
  other.begin_batch({true});
  std::optional<OrderGate::Ticket> held = other.try_enter(0, 1);
  ASSERT_TRUE(held);
  EXPECT_FALSE(other.try_enter(5, 0));  // an outsider, refused while held
  held.reset();
  const auto before = std::chrono::steady_clock::now();
  other.wait(5, std::chrono::seconds(30));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
}

}  // namespace
}  // namespace cw
