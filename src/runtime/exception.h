#pragma once
// Failures of the system: every class derives from Exception and carries
// its class name, a message and the code address of the raise.
#include <memory>
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
class EEncodingError : public Exception { public: explicit EEncodingError(std::u16string m) : Exception(u"EEncodingError", std::move(m)) {} };
class EMaskException : public Exception { public: explicit EMaskException(std::u16string m) : Exception(u"EMaskException", std::move(m)) {} };
class EOutOfMemory : public Exception { public: explicit EOutOfMemory(std::u16string m) : Exception(u"EOutOfMemory", std::move(m)) {} };
class EExternalException : public Exception { public: explicit EExternalException(std::u16string m) : Exception(u"EExternalException", std::move(m)) {} };
// clang-format on

/// Throws E(message) with the return address of this call as its raise
/// address, so a report names the instruction after the raising call.
template <class E>
[[noreturn]] [[gnu::noinline]] void Raise(std::u16string message) {
    E error(std::move(message));
    error.SetRaiseAddress(__builtin_extract_return_addr(__builtin_return_address(0)));
    throw error;
}

}  // namespace tessel
