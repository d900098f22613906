#pragma once
// Identifiers of the executable's string table and the one way to read it.
#include <string>

namespace tessel {

enum StringId : unsigned {
    SInvalidMask = 65423,
    SAccessViolationInModule = 65457,
    SExternalException = 65479,
    SAccessRead = 65489,
    SAccessWrite = 65490,
    SAccessExecute = 65491,
    SAccessInvalid = 65492,
    SAccessViolation = 65511,
    SExceptionReport = 65516,
    SExceptionCaption = 65517,
    SOutOfMemory = 65525,
};

/// The entry with this identifier, read through the platform into room for
/// `capacity` characters (the terminating zero included); empty when absent.
std::u16string LoadResString(StringId id, int capacity = 1024);

}  // namespace tessel
