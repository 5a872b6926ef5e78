#pragma once
// RunOnMainThread and the queue the main thread serves, with or without a GUI message loop.

#include <chrono>
#include <functional>

namespace brixa {

// A call handed from any thread to the main thread.
using TThreadMethod = std::function<void()>;

// Runs `method` on the main thread and returns once it has run there.
//
// On the main thread the method runs at once. From any other thread the call is queued, the
// main thread's loop is woken (the GUI backend's wake hook, or WaitForMainThreadWork), and the
// caller blocks until the main thread serves its queue: from its GUI message loop,
// ProcessMainThreadCalls or ServeMainThreadCallsUntil. An exception the method raised on the
// main thread is raised again in the caller. The caller waits without a limit, so the main
// thread must be serving its queue.
void RunOnMainThread(const TThreadMethod& method);

// Main thread only: runs every queued call, including those queued while it runs, in the order
// they were queued. Returns how many ran. Calls run without any lock held, so a call may itself
// queue or serve calls.
int ProcessMainThreadCalls();

// Main thread only: blocks until a call is queued or WakeMainThread is called (a wake-up that
// came before the wait counts), or until `timeout` passes. Runs nothing. True when woken.
bool WaitForMainThreadWork(std::chrono::milliseconds timeout);

// No limit for ServeMainThreadCallsUntil.
inline constexpr std::chrono::milliseconds kServeForever = std::chrono::milliseconds::max();

// Main thread only: serves queued calls until `done` returns true or `timeout` passes, and
// returns the last value of `done`. `done` is checked after every wake-up and at least every
// kMainThreadPollMs, so conditions whose writers do not call WakeMainThread are noticed too.
// This is the message loop of a program without a GUI, and how the main thread waits for a
// worker that may need it.
bool ServeMainThreadCallsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout);

inline constexpr int kMainThreadPollMs = 20;

// Wakes the main thread's loop (the wake hook and WaitForMainThreadWork). Any thread.
void WakeMainThread();

// Installed by the GUI backend that runs the main thread's message loop: called from the
// queueing thread after every queued call and every WakeMainThread, so it must be callable from
// any thread (post a message, wake the toolkit). An empty hook removes it.
void SetMainThreadWakeHook(std::function<void()> hook);

}  // namespace brixa
