#include "service_control.h"

int main(int argc, char** argv) { return pnpsvc::ServiceProgramMain(argc, argv); }
