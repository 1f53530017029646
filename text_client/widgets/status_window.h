#pragma once

// TfmStatus, the status window of the selling client: whether the loop runs (and why it
// stopped, when it stopped by itself), the server it talks to (address, port, the version
// it reported), the input folder and the input files passed over. The window asks its source for the values each time
// it refreshes. Escape closes it; Ctrl+Shift+Alt+F7 raises a test exception that the
// application's error box shows.
//
// Threads: main thread only.

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QLineEdit;
class QWidget;

namespace ecr {

inline constexpr char kStatusTestExceptionText[] =
    "This exception was created to test StackTrace Dump !!!";

struct ClientStatus {
    bool started = false;
    std::string address;
    int port = 0;
    std::string serverVersion;
    bool connected = false;
    std::string inputPath;
    std::string stopReason;  // why the loop stopped by itself, or ""
    std::vector<std::string> passedOver{};  // each file passed over, with why
};

// The text of the status row: "Started", "Stopped", or "Stopped: " and the reason.
std::string StateStatusText(const ClientStatus& status);

// The text of the server row: "IP: %s  Port: %d  ver.: %s".
std::string ServerStatusText(const ClientStatus& status);

// The text of the row of the files passed over: each one, separated by "; "; "" for none.
std::string PassedOverStatusText(const ClientStatus& status);

class TfmStatus : public QDialog {
    Q_OBJECT

public:
    using Source = std::function<ClientStatus()>;

    explicit TfmStatus(Source source, QWidget* parent = nullptr);

    void RefreshStatus();
    void RefreshStatusIfShown();

    QWidget* pnlStatus = nullptr;
    QLineEdit* eState = nullptr;
    QLineEdit* eServer = nullptr;
    QLineEdit* ePath = nullptr;
    QLineEdit* ePassedOver = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormKeyDown(QKeyEvent* event);

    Source source_;
};

}  // namespace ecr
