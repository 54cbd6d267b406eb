// What a process holds, counted so that a test can see whether an operation
// repeated many times gives back what it took.
#pragma once

#include <windows.h>

namespace testsupport {

struct ProcessCounts {
  DWORD threads = 0;  // threads of this process
  DWORD handles = 0;  // open kernel handles of this process
};

ProcessCounts CountProcess();

}  // namespace testsupport
