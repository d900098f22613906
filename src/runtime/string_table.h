#pragma once
// Identifiers of the executable's string table and the one way to read it.
#include <string>

namespace tessel {

enum StringId : unsigned {
    SOptionConflict = 1000,
    SOptionWithProgram = 1001,
    SWatcherNotEnding = 1002,
    SWatcherCannotStart = 1003,
    SInvalidMask = 65423,
    SReadError = 65436,
    SAccessViolationInModule = 65457,
    SExternalException = 65479,
    SAccessRead = 65489,
    SAccessWrite = 65490,
    SAccessExecute = 65491,
    SAccessInvalid = 65492,
    SRangeError = 65493,
    SUnderflow = 65494,
    SZeroDivide = 65495,
    SInvalidOp = 65496,
    SOverflow = 65497,
    SDivByZero = 65498,
    SIntOverflow = 65499,
    SPrivilege = 65500,
    SStackOverflow = 65501,
    SControlC = 65502,
    SAccessViolation = 65511,
    SExceptionReport = 65516,
    SExceptionCaption = 65517,
    SOutOfMemory = 65525,
};

/// The entry with this identifier, read through the platform into room for
/// `capacity` characters (the terminating zero included); empty when absent.
std::u16string LoadResString(StringId id, int capacity = 1024);

}  // namespace tessel
