#include "runtime/platform_exception.h"

#include <cstdint>
#include <string>

#include "runtime/error_report.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {

namespace {

constexpr std::uint32_t EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr std::uint32_t EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
constexpr std::uint32_t EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr std::uint32_t EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr std::uint32_t EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
constexpr std::uint32_t EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
constexpr std::uint32_t EXCEPTION_FLT_OVERFLOW = 0xC0000091;
constexpr std::uint32_t EXCEPTION_FLT_STACK_CHECK = 0xC0000092;
constexpr std::uint32_t EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
constexpr std::uint32_t EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr std::uint32_t EXCEPTION_INT_OVERFLOW = 0xC0000095;
constexpr std::uint32_t EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;
constexpr std::uint32_t EXCEPTION_STACK_OVERFLOW = 0xC00000FD;
constexpr std::uint32_t STATUS_CONTROL_C_EXIT = 0xC000013A;

// The first parameter of an access violation says what the access was.
std::u16string AccessKind(const ExceptionRecord& record) {
    if (record.NumberParameters < 1) return LoadResString(SAccessInvalid);
    switch (record.ExceptionInformation[0]) {
        case 0: return LoadResString(SAccessRead);
        case 1: return LoadResString(SAccessWrite);
        case 8: return LoadResString(SAccessExecute);
        default: return LoadResString(SAccessInvalid);
    }
}

// Both addresses are absolute here; only the report's first line shows one
// relative to its module.
std::u16string AccessViolationMessage(const ExceptionRecord& record) {
    const void* accessed =
        record.NumberParameters >= 2 ? reinterpret_cast<const void*>(record.ExceptionInformation[1]) : nullptr;
    const std::u16string kind = AccessKind(record);
    MemoryBasicInformation region;
    if (Os().VirtualQuery(record.ExceptionAddress, &region) != 0 &&
        (region.State == MEM_COMMIT || region.State == MEM_FREE)) {
        // A free region has no allocation base, which names the executable.
        const std::u16string module = ModuleFileName(region.AllocationBase);
        if (!module.empty())
            return FormatText(LoadResString(SAccessViolationInModule),
                              {record.ExceptionAddress, module, kind, accessed});
    }
    return FormatText(LoadResString(SAccessViolation), {record.ExceptionAddress, kind, accessed});
}

Exception FailureFor(const ExceptionRecord& record) {
    switch (record.ExceptionCode) {
        case EXCEPTION_ACCESS_VIOLATION: return EAccessViolation(AccessViolationMessage(record));
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return ERangeError(LoadResString(SRangeError));
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_UNDERFLOW: return EUnderflow(LoadResString(SUnderflow));
        case EXCEPTION_FLT_DIVIDE_BY_ZERO: return EZeroDivide(LoadResString(SZeroDivide));
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_STACK_CHECK: return EInvalidOp(LoadResString(SInvalidOp));
        case EXCEPTION_FLT_OVERFLOW: return EOverflow(LoadResString(SOverflow));
        case EXCEPTION_INT_DIVIDE_BY_ZERO: return EDivByZero(LoadResString(SDivByZero));
        case EXCEPTION_INT_OVERFLOW: return EIntOverflow(LoadResString(SIntOverflow));
        case EXCEPTION_PRIV_INSTRUCTION: return EPrivilege(LoadResString(SPrivilege));
        case EXCEPTION_STACK_OVERFLOW: return EStackOverflow(LoadResString(SStackOverflow));
        case STATUS_CONTROL_C_EXIT: return EControlC(LoadResString(SControlC));
        default: return EExternalException(FormatText(LoadResString(SExternalException), {record.ExceptionCode}));
    }
}

}  // namespace

Exception MapPlatformException(const ExceptionRecord& record) {
    Exception failure = FailureFor(record);
    failure.SetRaiseAddress(record.ExceptionAddress);
    return failure;
}

}  // namespace tessel
