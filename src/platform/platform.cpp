#include "platform/platform.h"

namespace tessel {

namespace {
Platform* Current = nullptr;
}

Platform& Os() { return *Current; }

void SetPlatform(Platform* platform) { Current = platform; }

}  // namespace tessel
