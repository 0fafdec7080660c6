#pragma once

#include <sys/time.h>

#include <QElapsedTimer>
#include <QtGlobal>
#include <chrono>

namespace platform::net {

// Waiting for replies in place, for the socket controls' stop-and-wait exchanges. When the receiver of
// a data-arrival event sends something to which a reply is due and says so (++due), the control waits
// for that reply right after the event, in a read that blocks with `limit` as its time limit, and
// delivers it as the next event without a return to the event loop first: one system call per reply, as
// for a program that blocks on its socket, where asking the event loop first costs two. The system
// counts the limit in its clock ticks, rounding up, so a reply that does not come holds the thread for
// up to one tick (1 to 10 ms, by the kernel's configuration) before the event loop takes over. One
// delivery starts no new wait after kSlice, so the window keeps painting and taking input. A zero
// limit (the default) turns it off.
struct ReplyWait {
    static constexpr std::chrono::milliseconds kSlice{10};

    std::chrono::microseconds limit{0};
    quint64 due = 0;  // replies asked for so far

    // After an event that began when `dueBefore` replies had been asked for, in a delivery under way
    // since `slice` started: whether to wait for the next reply in place.
    bool waitAgain(quint64 dueBefore, const QElapsedTimer& slice) const {
        return limit.count() > 0 && due != dueBefore && slice.elapsed() < kSlice.count();
    }
    // `limit` as a socket option (SO_RCVTIMEO) takes it.
    timeval limitAsTimeval() const { return asTimeval(limit); }
    static timeval asTimeval(std::chrono::microseconds us) {
        return timeval{static_cast<time_t>(us.count() / 1000000),
                       static_cast<suseconds_t>(us.count() % 1000000)};
    }
};

}  // namespace platform::net
