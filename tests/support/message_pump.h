// Waiting the way a single-threaded apartment must: window messages and
// incoming COM calls are dispatched while the test waits for a condition.
#pragma once

#include <windows.h>

#include <functional>

namespace testsupport {

// Dispatches messages until done() holds or timeoutMs passed; done()'s last
// answer.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

}  // namespace testsupport
