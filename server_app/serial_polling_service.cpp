#include "server_app/serial_polling_service.h"

#include "line/pol_thread.h"
#include "line/simple_com_object.h"

namespace ecr {
namespace {

// The polling thread as the request engine sees it.
class PolThreadControl : public PollingControl {
 public:
  explicit PolThreadControl(TPolThread& thread) : thread_(thread) {}
  void AddEcr(int logNo) override { thread_.AddEcr(logNo); }
  void RemoveEcr(int logNo) override { thread_.RemoveEcr(logNo); }
  void StartNoise() override { thread_.StartNoise(); }
  void StopNoise() override { thread_.StopNoise(); }
  void CancelExchange() override { thread_.CancelExchange(); }
  void SetInLineCommand(std::string_view text) override { thread_.SetInLineCommand(text); }
  void SetOnLineAnswer(std::string_view text) override { thread_.SetOnLineAnswer(text); }

 private:
  TPolThread& thread_;
};

class SerialPollingService : public PollingService {
 public:
  SerialPollingService(const PollingStart& start, RequestEngine& engine, ClientSender& server)
      : engine_(engine), server_(server), control_(thread_) {
    com_.PortName = start.comPort;
    com_.SetBaudRate(start.comSpeed);
    thread_.Com = &com_;
    BindEvents();
    thread_.SetCodeTable(start.codeTable);
    thread_.StopNoise();
    com_.Open();  // raises ECommError; the members are freed in reverse order
    thread_.Resume();
  }

  // The thread's destructor ends it and closes the line; the line object goes after it.
  ~SerialPollingService() override = default;

  std::string PortName() const override { return com_.PortName; }
  PollingControl& Control() override { return control_; }

 private:
  // Every handler runs on the polling thread and only forwards. The register-side
  // entries of the engine (status, command sent and answered, register message, answer
  // sent, and the block-accept hook of the line) are bound here as the engine offers
  // them; until then the register's status passes without a command, and a register
  // message waits out its answer time and ends as no answer.
  void BindEvents() {
    thread_.OnNoAnswer = [this](TPolThread&, int, const std::string&, std::uint8_t) {
      engine_.ClearCurrentExchange();
    };
    static_cast<void>(server_);
  }

  RequestEngine& engine_;
  ClientSender& server_;
  TSimpleComObject com_;  // declared before the thread: destroyed after it
  TPolThread thread_;
  PolThreadControl control_;
};

}  // namespace

std::unique_ptr<PollingService> MakeSerialPollingService(const PollingStart& start, RequestEngine& engine,
                                                         ClientSender& server) {
  return std::make_unique<SerialPollingService>(start, engine, server);
}

}  // namespace ecr
