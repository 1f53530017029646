#pragma once

// A program started as a child process for a test, with its own arguments and environment
// additions (each "NAME=value" replaces what the test's environment has for NAME); killed
// when the object goes (so that no test leaves a process behind). Waits are bounded and
// counted in milliseconds.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace ecr::testing_support {

class ChildProcess {
public:
    // Throws std::system_error when the program cannot start.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& extraEnvironment = {})
        : process_(program, arguments, {.environment = extraEnvironment}) {}

    // The exit status when the process ended within `timeoutMs`.
    std::optional<int> WaitForExit(int timeoutMs) {
        return process_.WaitForExit(std::chrono::milliseconds(timeoutMs));
    }
    bool Running() { return process_.Running(); }
    pid_t Pid() const { return process_.Pid(); }
    // Ends it at once (SIGKILL), as a power cut or a kill ends a program.
    void Kill() { process_.Kill(); }

private:
    ecr::ChildProcess process_;
};

}  // namespace ecr::testing_support
