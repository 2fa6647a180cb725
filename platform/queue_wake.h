// What a foreign event loop needs to dispatch the calling thread's window messages and timers
// without polling: a descriptor that becomes readable when the queue may have something new,
// and the time until the next timer falls due. Linux only: on Windows the system's own loop
// does this.
//
// A loop watches QueueWakeFd(); when it is readable the loop reads it (8 bytes, which resets
// it), then retrieves and dispatches with PeekMessageA(PM_REMOVE) until nothing is left, and
// arms a single-shot timer for NextTimerDueMs(). Reading before draining matters: whatever is
// posted after the drain looked makes the descriptor readable again.
#pragma once

namespace tw::posix {

// An eventfd of the calling thread's message queue (made on first use, like the queue). It
// is signalled by every message posted or sent to the queue, by PostQuitMessage, and by a
// timer set on it. Owned by the queue: valid until the thread ends; never close it.
int QueueWakeFd();

// Milliseconds until the calling thread's earliest timer is due: 0 when one is due now, -1
// when the thread has no timer.
int NextTimerDueMs();

}  // namespace tw::posix
