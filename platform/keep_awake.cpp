#include "platform/keep_awake.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace ecr {

// The entries of libsystemd the request uses, looked up by name.
struct KeepAwake::Functions {
    decltype(&sd_bus_open_system) openSystem = nullptr;
    decltype(&sd_bus_call_method) callMethod = nullptr;
    decltype(&sd_bus_message_read) messageRead = nullptr;
    decltype(&sd_bus_message_unref) messageUnref = nullptr;
    decltype(&sd_bus_flush_close_unref) busUnref = nullptr;
    decltype(&sd_bus_error_free) errorFree = nullptr;
};

namespace {

// The inhibitor logind is asked for. "idle" keeps the machine from going to sleep because
// nobody uses it, which is what the request stands for; a suspend the user asks for (menu,
// suspend key, lid) is not idle and goes ahead. A "sleep" inhibitor would refuse those too.
constexpr char kInhibitWhat[] = "idle";
constexpr char kInhibitMode[] = "block";
constexpr char kInhibitWhy[] = "processing requests for cash registers";

template <typename Pointer>
bool Bind(void* library, const char* name, Pointer& pointer, std::string& missing) {
    void* entry = library ? ::dlsym(library, name) : nullptr;
    if (!entry) {
        if (missing.empty()) missing = name;
        return false;
    }
    pointer = reinterpret_cast<Pointer>(entry);
    return true;
}

}  // namespace

std::string KeepAwakeLibrary() {
    const char* named = std::getenv("ECR_KEEP_AWAKE_LIBRARY");
    return named != nullptr && *named != '\0' ? named : kKeepAwakeLibrary;
}

KeepAwake::KeepAwake(Reporter report, std::string who, std::string library)
    : who_(std::move(who)), functions_(std::make_unique<Functions>()) {
    library_ = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        const char* reason = ::dlerror();
        lastError_ = reason ? reason : "cannot load " + library;
        if (report) report("Error loading " + library);
    }

    std::string missing;
    bool all = true;
    all &= Bind(library_, "sd_bus_open_system", functions_->openSystem, missing);
    all &= Bind(library_, "sd_bus_call_method", functions_->callMethod, missing);
    all &= Bind(library_, "sd_bus_message_read", functions_->messageRead, missing);
    all &= Bind(library_, "sd_bus_message_unref", functions_->messageUnref, missing);
    all &= Bind(library_, "sd_bus_flush_close_unref", functions_->busUnref, missing);
    all &= Bind(library_, "sd_bus_error_free", functions_->errorFree, missing);
    bound_ = all;
    if (!bound_) {
        const std::string text = "Function " + missing + " not defined";
        // The library's own reason says more than the function it would have had.
        if (library_) lastError_ = text;
        if (report) report(text);
    }
}

KeepAwake::~KeepAwake() {
    ReleaseInhibitor();
    if (library_) ::dlclose(library_);
}

std::uint32_t KeepAwake::SetThreadExecutionState(std::uint32_t flags) {
    if (!bound_) return 0;  // LastError() still says what is missing
    const std::uint32_t previous = state_;
    if ((flags & ES_CONTINUOUS) == 0) return previous;  // a one-off reset: nothing lasting
    if ((flags & ES_SYSTEM_REQUIRED) != 0) {
        if (!HoldsInhibitor() && !TakeInhibitor()) return 0;
    } else {
        ReleaseInhibitor();
    }
    state_ = flags;
    return previous;
}

bool KeepAwake::TakeInhibitor() {
    sd_bus* bus = nullptr;
    int result = functions_->openSystem(&bus);
    if (result < 0) {
        lastError_ = std::string("system bus: ") + std::strerror(-result);
        return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    result = functions_->callMethod(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                    "org.freedesktop.login1.Manager", "Inhibit", &error, &reply,
                                    "ssss", kInhibitWhat, who_.c_str(), kInhibitWhy,
                                    kInhibitMode);
    if (result < 0) {
        lastError_ = std::string("Inhibit: ") +
                     (error.message ? error.message : std::strerror(-result));
    } else {
        int descriptor = -1;
        result = functions_->messageRead(reply, "h", &descriptor);
        if (result < 0) {
            lastError_ = std::string("Inhibit reply: ") + std::strerror(-result);
        } else {
            // The reply owns the descriptor it carries; keep a copy of our own.
            inhibitor_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
            if (inhibitor_ < 0) lastError_ = std::string("dup: ") + std::strerror(errno);
        }
    }
    functions_->errorFree(&error);
    if (reply) functions_->messageUnref(reply);
    functions_->busUnref(bus);
    return inhibitor_ >= 0;
}

void KeepAwake::ReleaseInhibitor() {
    if (inhibitor_ >= 0) ::close(inhibitor_);
    inhibitor_ = -1;
}

std::optional<std::string> RequestKeepAwake(KeepAwake* keepAwake) {
    if (keepAwake == nullptr) return std::nullopt;
    if (keepAwake->IsBound() &&
        keepAwake->SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0)
        return std::nullopt;
    return "Keep-awake request failed: " + keepAwake->LastError();
}

}  // namespace ecr
