#include "service_control.h"
#include "win32/callback_guard.h"

int main(int argc, char** argv) {
  return win32::guard(1, [&] { return pnpsvc::ServiceProgramMain(argc, argv); });
}
