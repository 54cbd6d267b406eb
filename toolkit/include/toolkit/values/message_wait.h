// Waits for threads that own windows or a single-threaded apartment: while
// they block, the thread's window messages and incoming COM calls are still
// dispatched.
//
// A WM_QUIT taken from the queue while waiting is not dispatched; it is
// posted again (same exit code) before the wait returns, so that the
// thread's own message loop still sees it.
#pragma once

#include <windows.h>

// Waits without limit. 1 when the handle was signalled, 0 when the wait
// failed (an invalid handle, an abandoned mutex).
int WaitWithMessageLoop(HANDLE handle);

// Waits at most milliseconds (INFINITE: no limit) in total, however many
// messages arrive. 1 when signalled, 0 on time-out or failure.
int WaitOneWithMessageLoop(HANDLE handle, DWORD milliseconds);

// Waits without limit for any of count handles (at most
// MAXIMUM_WAIT_OBJECTS - 1). 1 + the index of a signalled one (the lowest
// when several are), 0 when the wait failed.
int WaitAnyWithMessageLoop(DWORD count, const HANDLE* handles);
