#pragma once
// Failures of the system: every class derives from Exception and carries
// its class name, a message and the code address of the raise.
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace tessel {

class Exception {
public:
    Exception(const char16_t* className, std::u16string message)
        : FClassName(className),
          FMessage(std::make_shared<const std::u16string>(std::move(message))) {}
    virtual ~Exception() = default;

    const char16_t* ClassName() const { return FClassName; }
    const std::u16string& Message() const { return *FMessage; }
    const void* RaiseAddress() const { return FRaiseAddress; }
    void SetRaiseAddress(const void* address) { FRaiseAddress = address; }

private:
    const char16_t* FClassName;
    // Shared so that copying an exception while it is thrown never allocates:
    // the out-of-memory object must be raisable without memory.
    std::shared_ptr<const std::u16string> FMessage;
    const void* FRaiseAddress = nullptr;
};

// clang-format off
class EFOpenError : public Exception { public: explicit EFOpenError(std::u16string m) : Exception(u"EFOpenError", std::move(m)) {} };
class EReadError : public Exception { public: explicit EReadError(std::u16string m) : Exception(u"EReadError", std::move(m)) {} };
class EEncodingError : public Exception { public: explicit EEncodingError(std::u16string m) : Exception(u"EEncodingError", std::move(m)) {} };
class EMaskException : public Exception { public: explicit EMaskException(std::u16string m) : Exception(u"EMaskException", std::move(m)) {} };
class EOutOfMemory : public Exception { public: explicit EOutOfMemory(std::u16string m) : Exception(u"EOutOfMemory", std::move(m)) {} };
class EExternalException : public Exception { public: explicit EExternalException(std::u16string m) : Exception(u"EExternalException", std::move(m)) {} };
// Watch mode: options that cannot go together, a watcher that cannot take over.
class EArgumentException : public Exception { public: explicit EArgumentException(std::u16string m) : Exception(u"EArgumentException", std::move(m)) {} };
class EWatchError : public Exception { public: explicit EWatchError(std::u16string m) : Exception(u"EWatchError", std::move(m)) {} };
// The faults that the processor or the platform raises (MapPlatformException).
class EAccessViolation : public Exception { public: explicit EAccessViolation(std::u16string m) : Exception(u"EAccessViolation", std::move(m)) {} };
class ERangeError : public Exception { public: explicit ERangeError(std::u16string m) : Exception(u"ERangeError", std::move(m)) {} };
class EUnderflow : public Exception { public: explicit EUnderflow(std::u16string m) : Exception(u"EUnderflow", std::move(m)) {} };
class EZeroDivide : public Exception { public: explicit EZeroDivide(std::u16string m) : Exception(u"EZeroDivide", std::move(m)) {} };
class EInvalidOp : public Exception { public: explicit EInvalidOp(std::u16string m) : Exception(u"EInvalidOp", std::move(m)) {} };
class EOverflow : public Exception { public: explicit EOverflow(std::u16string m) : Exception(u"EOverflow", std::move(m)) {} };
class EDivByZero : public Exception { public: explicit EDivByZero(std::u16string m) : Exception(u"EDivByZero", std::move(m)) {} };
class EIntOverflow : public Exception { public: explicit EIntOverflow(std::u16string m) : Exception(u"EIntOverflow", std::move(m)) {} };
class EPrivilege : public Exception { public: explicit EPrivilege(std::u16string m) : Exception(u"EPrivilege", std::move(m)) {} };
class EStackOverflow : public Exception { public: explicit EStackOverflow(std::u16string m) : Exception(u"EStackOverflow", std::move(m)) {} };
class EControlC : public Exception { public: explicit EControlC(std::u16string m) : Exception(u"EControlC", std::move(m)) {} };
// clang-format on

/// The failure raised last, kept beside the thrown object on its way to the
/// outermost handler: the platform's dispatch carries a C++ exception in a
/// record that does not say which object it is. Copying an Exception never
/// allocates, so keeping it here costs nothing when memory is exhausted.
inline std::optional<Exception> FailureInFlight;

/// Throws E(message) with the return address of this call as its raise
/// address, so a report names the instruction after the raising call.
template <class E>
[[noreturn]] [[gnu::noinline]] void Raise(std::u16string message) {
    E error(std::move(message));
    error.SetRaiseAddress(__builtin_extract_return_addr(__builtin_return_address(0)));
    FailureInFlight = error;
    throw error;
}

}  // namespace tessel
