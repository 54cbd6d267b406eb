// In a test program, a fault of a frame double (a notice on the frame's own
// IDispatch, a call through a sink's vtable) fails the running test.
#include <gtest/gtest.h>

#include "frame_application.h"

namespace {

void FailRunningTest(const std::string& what) { ADD_FAILURE() << "frame double fault: " << what; }

const bool installed = (frame_double::setFaultHandler(&FailRunningTest), true);

}  // namespace
