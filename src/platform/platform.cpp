#include "platform/platform.h"

namespace tessel {

namespace {
Platform* Current = nullptr;
}

Platform& Os() { return *Current; }

void SetPlatform(Platform* platform) { Current = platform; }

TComApartment::TComApartment()
    : FInitialised(Os().CoInitializeEx(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE) >= 0) {}

TComApartment::~TComApartment() {
    if (FInitialised) Os().CoUninitialize();
}

}  // namespace tessel
