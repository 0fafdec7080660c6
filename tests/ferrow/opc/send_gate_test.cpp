// The gate that keeps a group's deliveries apart: its holder enters again without waiting, others wait
// for it at most their limit, and a turn that could not enter leaves the gate to its holder.

#include "ferrow/opc/send_gate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace opctest {
namespace {

using namespace std::chrono_literals;
using ferrow::opc::SendGate;

// Whether another thread can enter the gate within `limit` (leaving it again at once).
bool otherThreadEnters(SendGate& gate, std::chrono::milliseconds limit) {
    return std::async(std::launch::async,
                      [&] {
                          const bool entered = gate.enter(limit);
                          if (entered) gate.leave();
                          return entered;
                      })
        .get();
}

TEST(SendGate, TheHolderEntersAgainAndOthersWaitUntilItHasLeftEveryTime) {
    SendGate gate;
    ASSERT_TRUE(gate.enter(0ms));
    ASSERT_TRUE(gate.enter(0ms));
    EXPECT_FALSE(otherThreadEnters(gate, 1ms));
    gate.leave();
    EXPECT_FALSE(otherThreadEnters(gate, 1ms));
    gate.leave();
    EXPECT_TRUE(otherThreadEnters(gate, 0ms));
}

TEST(SendGate, AWaiterEntersOnceTheHolderLeaves) {
    SendGate gate;
    ASSERT_TRUE(gate.enter(0ms));
    std::promise<void> started;
    auto waiter = std::async(std::launch::async, [&] {
        started.set_value();
        const bool entered = gate.enter(30s);
        if (entered) gate.leave();
        return entered;
    });
    started.get_future().wait();
    gate.leave();
    EXPECT_TRUE(waiter.get());
}

TEST(SendGate, ATurnThatCouldNotEnterLeavesTheGateToItsHolder) {
    SendGate gate;
    SendGate::Turn held(gate, 0ms);
    ASSERT_TRUE(held.entered());
    const bool otherEntered = std::async(std::launch::async, [&] {
                                  SendGate::Turn turn(gate, 1ms);
                                  return turn.entered();
                              }).get();
    EXPECT_FALSE(otherEntered);
    // The failed turn has not let the gate go: it is still the holder's.
    EXPECT_FALSE(otherThreadEnters(gate, 1ms));
    {
        SendGate::Turn again(gate, 0ms);
        EXPECT_TRUE(again.entered());
    }
    EXPECT_FALSE(otherThreadEnters(gate, 1ms));
}

}  // namespace
}  // namespace opctest
