// Dovrand.exe: the service when started with -service, the console commands otherwise.
#include "control/dovrand_service_control.h"

namespace {
cDovrandServiceControl g_control;
}

int wmain(int argc, wchar_t** argv) {
    return cWindowsServiceControl::Instance().Main(argc, argv);
}
