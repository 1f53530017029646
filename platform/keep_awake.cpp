#include "platform/keep_awake.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <memory>

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

KeepAwake::KeepAwake(Reporter report, std::string who, std::string library)
    : who_(std::move(who)), functions_(std::make_unique<Functions>()) {
    library_ = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_ && report) report("Error loading " + library);

    std::string missing;
    bool all = true;
    all &= Bind(library_, "sd_bus_open_system", functions_->openSystem, missing);
    all &= Bind(library_, "sd_bus_call_method", functions_->callMethod, missing);
    all &= Bind(library_, "sd_bus_message_read", functions_->messageRead, missing);
    all &= Bind(library_, "sd_bus_message_unref", functions_->messageUnref, missing);
    all &= Bind(library_, "sd_bus_flush_close_unref", functions_->busUnref, missing);
    all &= Bind(library_, "sd_bus_error_free", functions_->errorFree, missing);
    bound_ = all;
    if (!bound_ && report) report("Function " + missing + " not defined");
}

KeepAwake::~KeepAwake() {
    ReleaseInhibitor();
    if (library_) ::dlclose(library_);
}

std::uint32_t KeepAwake::SetThreadExecutionState(std::uint32_t flags) {
    if (!bound_) {
        lastError_ = "the keep-awake request is not available";
        return 0;
    }
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
                                    "ssss", "sleep", who_.c_str(),
                                    "processing requests for cash registers", "block");
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

}  // namespace ecr
