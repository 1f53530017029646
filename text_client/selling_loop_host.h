#pragma once

// What the selling loop needs from the program around it: its one timer, its windows and
// its settings store. The window program implements it with a timer, message boxes, the
// not-ready dialog and the tray; tests implement it with a poll loop and recorded calls.
//
// Threads: the loop calls it on the main thread only.

#include <string>

namespace ecr {

// The handler the loop's one timer runs.
enum class LoopTimer { Start, IdentificationDeadline, ProcessingTick };

enum class NotReadyAnswer { Cancel, Retry };

class SellingLoopHost {
public:
    virtual ~SellingLoopHost() = default;

    // Runs `timer` after `milliseconds` and then every `milliseconds` until stopped or
    // replaced (the loop stops the one-shot ones itself).
    virtual void StartTimer(LoopTimer timer, int milliseconds) = 0;
    virtual void StopTimer() = 0;

    virtual void ShowError(const std::string& text) = 0;

    // Shows the not-ready dialog without waiting; its answer comes back through
    // SellingLoop::NotReadyDialogClosed. CloseNotReadyDialog closes it without an answer
    // (the loop takes it as Retry).
    virtual void ShowNotReadyDialog(const std::string& text) = 0;
    virtual void CloseNotReadyDialog() = 0;

    // Asks for a non-empty password (modal); true when the right one was entered.
    virtual bool AskPassword(const std::string& password) = 0;

    // Tray image 0 (running) or 1 (stopped); the Start/Stop item; the Configure item.
    virtual void ShowRunning(bool running) = 0;
    virtual void ShowStartStopItem(bool showsStart) = 0;
    virtual void EnableConfigure(bool enabled) = 0;
    virtual void HideTrayIcon() = 0;
    virtual void RefreshStatusIfShown() = 0;

    virtual void SavePasswords() = 0;
    virtual void CloseMainWindow() = 0;
};

}  // namespace ecr
