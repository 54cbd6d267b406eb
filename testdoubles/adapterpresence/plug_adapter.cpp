// plugadapter NAME SERIAL: makes a simulated adapter present for SetupAPI and
// writes its device file, so that a service or program started afterwards
// finds it (the demo's way of plugging an adapter in under Wine).
#include <cstdio>
#include <cstdlib>

#include "adapter_presence.h"
#include "sim/sim_control.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: plugadapter NAME SERIAL   (NAME: letters and digits, SERIAL: e.g. 0x1234)\n");
    return 2;
  }
  unsigned long serial = strtoul(argv[2], nullptr, 0);
  adapter_presence::PresentAdapter adapter;
  if (serial == 0 || serial > 0xFFFF || !adapter_presence::RegisterPresentAdapter(argv[1], &adapter) ||
      !SimCreateAdapter(adapter.deviceFile.c_str(), static_cast<uint16_t>(serial))) {
    fprintf(stderr, "plugadapter: could not make adapter %s present\n", argv[1]);
    return 1;
  }
  printf("%s\n", adapter.interfacePath.c_str());
  return 0;
}
