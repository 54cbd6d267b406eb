// The one rule by which a run over a number of items reports its progress,
// kept in one place for the worker's progress report and the parameter
// handler's export and import.
#pragma once

#include <windows.h>

// Item index (counted from 1; 0 is the start) of count is reported when its
// percentage, 100 * index / count, exceeds *mark; *mark then grows by step,
// so a run of 100 items reports at 1, 6, 11, ... % with a step of 5. true
// with *percent when the item is reported; nothing is reported for the start
// or without items.
inline bool ProgressStepDue(ULONG index, ULONG count, ULONG step, ULONG* mark, USHORT* percent) {
  if (index == 0 || count == 0) return false;
  // 64-bit: a large index times 100 must not wrap.
  const ULONGLONG value = static_cast<ULONGLONG>(index) * 100 / count;
  if (value <= *mark) return false;
  *mark += step;
  *percent = static_cast<USHORT>(value > 100 ? 100 : value);
  return true;
}
