#pragma once
// Faults that the processor or the platform raises, turned into the
// system's own failure objects so that one report serves every failure.
#include "platform/platform.h"
#include "runtime/exception.h"

namespace tessel {

/// The failure object for a platform exception record: its class by the
/// exception code (EExternalException with the code when it has no class
/// of its own), its message from the string table, and the record's
/// exception address as its raise address. The object is answered as the
/// root class; its class name travels with it.
Exception MapPlatformException(const ExceptionRecord& record);

}  // namespace tessel
