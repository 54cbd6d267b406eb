#!/bin/bash
# Wine's 64-bit loader, for every Wine process of the tests, the demo and the
# benchmarks:   cmake/wine64.sh PROGRAM [ARGUMENT...]
#
# It runs with the Linux address space laid out without randomisation. The
# loader is linked at 0x7d000000 and this Wine has no preloader to keep low
# addresses free; the kernel puts the loader's heap at a random place in the
# gigabyte above it, now and then (2 starts in 12000 here) over 0x7ffe0000,
# where Wine must map the shared user data: the process then ends at once
# with exit code 1 ("failed to map the shared user data: c0000018"). Laid out
# in order, the heap starts right after the loader. Processes that a Wine
# process starts keep the layout. Where the system forbids the setting (some
# containers), the loader runs as it is.
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)
if setarch "$(uname -m)" -R true 2>/dev/null; then
  exec setarch "$(uname -m)" -R "$loader" "$@"
fi
exec "$loader" "$@"
