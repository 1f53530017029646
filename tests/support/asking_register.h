#pragma once

// A register of the register emulator that keeps asking for its receipt lines, the way a
// register does: each OnLine message "SERIAL;NUMBER;QUESTION;2;15;42;" asks with the
// question code ("A": the receipt line question, "5": the fiscal printer's sale question)
// and carries the values that a totals question reports (2, 15 and 42). The message number
// moves on by `numberStep` (modulo 10) once an answer has arrived; a message that got no
// answer (released, refused, or lost on the line) is asked again with the same number.
// A step of 2 makes the register lose count, so that the server cannot confirm an answer.
//
//   AskingRegister asking(emulator, emulator.AddRegister(1), "12345");
//   asking.AskUntil([&] { return done; }, 60s);
//
// Threads: AskUntil and AnsweredNumbers are called on one thread at a time (any thread);
// the register and its emulator must outlive the object, and AskUntil must have returned
// before the emulator is destroyed.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/register_emulator.h"

namespace ecr::testing_support {

class AskingRegister {
public:
    AskingRegister(const RegisterEmulator& emulator, EmulatedRegister& reg, std::string serial,
                   std::string question = "A", int numberStep = 1)
        : emulator_(emulator),
          reg_(reg),
          serial_(std::move(serial)),
          question_(std::move(question)),
          numberStep_(numberStep) {}

    // Asks until `done` holds (looked at every 200 ms at least); false when it did not
    // within `timeout`. A later call goes on where this one stopped.
    bool AskUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        using namespace std::chrono_literals;
        const auto end = std::chrono::steady_clock::now() + timeout;
        const auto slice = 200ms;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            switch (phase_) {
                case Phase::Idle:
                    answersBefore_ = reg_.OnLineAnswers().size();
                    reg_.QueueOnLineMessage(serial_ + ";" + std::to_string(number_) + ";" + question_ +
                                            ";2;15;42;");
                    phase_ = Phase::Queued;
                    break;
                case Phase::Queued:
                    // The message leaves the queue when the PC acknowledges it.
                    if (emulator_.WaitFor([&] { return reg_.QueuedMessages() == 0; }, slice)) {
                        takesAtAck_ = reg_.Takes();
                        phase_ = Phase::Acknowledged;
                    }
                    break;
                case Phase::Acknowledged:
                    // An answer comes within the same take, before the register is taken again.
                    if (emulator_.WaitFor([&] { return reg_.Takes() > takesAtAck_; }, slice)) {
                        if (reg_.OnLineAnswers().size() > answersBefore_) {
                            answeredNumbers_.push_back(number_);
                            number_ = (number_ + numberStep_) % 10;
                        }
                        phase_ = Phase::Idle;
                    }
                    break;
            }
        }
        return true;
    }

    // The message number of every message that got an answer, in order.
    const std::vector<int>& AnsweredNumbers() const { return answeredNumbers_; }

private:
    enum class Phase { Idle, Queued, Acknowledged };

    const RegisterEmulator& emulator_;
    EmulatedRegister& reg_;
    const std::string serial_;
    const std::string question_;
    const int numberStep_;
    int number_ = 5;
    Phase phase_ = Phase::Idle;
    std::size_t answersBefore_ = 0;
    int takesAtAck_ = 0;
    std::vector<int> answeredNumbers_;
};

}  // namespace ecr::testing_support
