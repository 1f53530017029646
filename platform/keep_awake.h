#pragma once

// The request that keeps the machine from going to sleep while a program runs.
//
// The programs bind the call by name when they start, so that they still start on a system
// that lacks it. Here the system library is libsystemd, loaded with dlopen, and the request
// is a logind "idle" inhibitor in "block" mode, taken over the system bus with sd-bus: the
// machine does not go to sleep because nobody uses it, while a suspend the user asks for
// (menu, suspend key, lid) still happens. The inhibitor is a descriptor that counts while it
// is open, so the object holds it until it is destroyed (for the program's life) or the
// request is withdrawn.
//
// When the library or one of its functions is missing, the object says so once each through
// the reporter given to it (the window code shows those texts in error boxes) and the
// program runs on without the request.
//
// Threads: create, call and destroy the object on one thread (the main thread).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ecr {

// Execution-state flags of the request.
inline constexpr std::uint32_t ES_SYSTEM_REQUIRED = 0x00000001;
inline constexpr std::uint32_t ES_DISPLAY_REQUIRED = 0x00000002;
inline constexpr std::uint32_t ES_CONTINUOUS = 0x80000000;

inline constexpr char kKeepAwakeLibrary[] = "libsystemd.so.0";

// The library the programs bind: kKeepAwakeLibrary, or the one that the environment
// variable ECR_KEEP_AWAKE_LIBRARY names. Tests name a missing library there, or one without
// the functions, to see a program start on a system that lacks the call (its two boxes).
std::string KeepAwakeLibrary();

class KeepAwake {
public:
    using Reporter = std::function<void(const std::string& text)>;

    // Loads `library` and looks up the functions the request needs. Missing library:
    // reports "Error loading <library>", then the function message below. Missing
    // function (or no library): reports "Function <name> not defined". `who` names the
    // program to logind.
    KeepAwake(Reporter report, std::string who, std::string library = KeepAwakeLibrary());
    ~KeepAwake();

    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;

    // True when every function of the request was found. When not, LastError() says
    // which part is missing.
    bool IsBound() const { return bound_; }

    // ES_CONTINUOUS with ES_SYSTEM_REQUIRED takes the inhibitor (once; later calls keep it);
    // ES_CONTINUOUS alone releases it; other flags without ES_CONTINUOUS change nothing
    // lasting. Returns the flags in force before the call, or 0 when the request failed
    // (not bound, no bus, logind refused); then LastError() holds the reason.
    std::uint32_t SetThreadExecutionState(std::uint32_t flags);

    bool HoldsInhibitor() const { return inhibitor_ >= 0; }
    const std::string& LastError() const { return lastError_; }

private:
    struct Functions;

    bool TakeInhibitor();
    void ReleaseInhibitor();

    std::string who_;
    void* library_ = nullptr;
    std::unique_ptr<Functions> functions_;
    bool bound_ = false;
    int inhibitor_ = -1;
    std::uint32_t state_ = ES_CONTINUOUS;
    std::string lastError_;
};

// The request the programs make once, from their main window's creation:
// ES_CONTINUOUS | ES_SYSTEM_REQUIRED through a bound entry (an unbound one is not called).
// Returns the line to log when the machine is not kept awake, "Keep-awake request failed: "
// and the reason; nothing when it is, or when the program has no entry at all.
std::optional<std::string> RequestKeepAwake(KeepAwake* keepAwake);

}  // namespace ecr
