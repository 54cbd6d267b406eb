#!/bin/bash
# Starts the 64-bit Wine loader with address-space randomisation off; every
# script that runs Windows programs goes through here.
#
# Debian's wine64 comes without its preloader, so nothing reserves the low
# addresses Wine needs before the Linux loader places the program's heap,
# which it puts at a random place within a gigabyte above the loader. Now
# and then the heap covered the page Wine maps at 0x7ffe0000, and the
# process ended at once with "failed to map the shared user data"
# (exit code 1, nothing printed). Without randomisation the heap starts
# right after the loader, far below that page. Processes that Wine starts
# from this one inherit the setting.
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
exec setarch "$(uname -m)" -R "$wine" "$@"
