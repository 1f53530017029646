#pragma once

// A program started as a child process for a test, with its own arguments and environment
// additions; killed when the object goes (so that no test leaves a process behind). Waits
// are bounded.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ecr::testing_support {

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& extraEnvironment = {}) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> argPointers;
        for (std::string& a : argv) argPointers.push_back(a.data());
        argPointers.push_back(nullptr);

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char*> envPointers;
        for (std::string& e : env) envPointers.push_back(e.data());
        envPointers.push_back(nullptr);

        if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argPointers.data(),
                          envPointers.data()) != 0) {
            throw std::runtime_error("cannot start " + program);
        }
    }
    ~ChildProcess() {
        if (!status_) {
            ::kill(pid_, SIGKILL);
            int ignored = 0;
            ::waitpid(pid_, &ignored, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The exit status when the process ended within `timeoutMs`.
    std::optional<int> WaitForExit(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() >= end) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status_;
    }
    bool Running() { return !WaitForExit(0).has_value(); }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

}  // namespace ecr::testing_support
