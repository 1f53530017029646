#include "server_app/serial_polling_service.h"

#include <cstdint>
#include <string>

#include "line/basic_communication_object.h"
#include "line/pol_thread.h"
#include "line/simple_com_object.h"

namespace ecr {
namespace {

// The polling thread as the request engine sees it.
class PolThreadControl : public PollingControl {
 public:
  // The thread may be built after the adapter (it only remembers where the thread is).
  explicit PolThreadControl(TPolThread* thread) : thread_(thread) {}
  void AddEcr(int logNo) override { thread_->AddEcr(logNo); }
  void RemoveEcr(int logNo) override { thread_->RemoveEcr(logNo); }
  void StartNoise() override { thread_->StartNoise(); }
  void StopNoise() override { thread_->StopNoise(); }
  void CancelExchange() override { thread_->CancelExchange(); }
  void SetInLineCommand(std::string_view text) override { thread_->SetInLineCommand(text); }
  bool SetOnLineAnswer(std::string_view text) override { return thread_->SetOnLineAnswer(text); }
  std::size_t BlockCapacity() const override { return thread_->BlockCapacity(); }

 private:
  TPolThread* thread_;
};

class SerialPollingService : public PollingService {
 public:
  SerialPollingService(const PollingStart& start, RequestEngine& engine, ClientSender& server)
      : engine_(engine), server_(server), control_(&thread_) {
    com_.PortName = start.comPort;
    com_.SetBaudRate(start.comSpeed);
    thread_.Com = &com_;
    BindEvents();
    thread_.SetCodeTable(start.codeTable);
    thread_.StopNoise();
    com_.Open();  // raises ECommError; the members are freed in reverse order
    thread_.Resume();
  }

  // The thread's destructor ends it and closes the line; the adapter and the line object
  // go after it.
  ~SerialPollingService() override = default;

  std::string PortName() const override { return com_.PortName; }
  PollingControl& Control() override { return control_; }

 private:
  // Every handler runs on the polling thread and only forwards: the register number and
  // the result byte unchanged, the block as a copy (the engine edits it in place). The
  // engine takes its own lock in each entry, the settings saves of a new notification id
  // included. The seventh event slot of the thread stays unset.
  void BindEvents() {
    com_.OnTakeBlock = [this](TBasicCommunicationObject& sender, std::uint8_t ecrNo, const std::string& block,
                              bool& accept) { engine_.AcceptEcrMessage(sender, ecrNo, block, accept); };
    thread_.OnEcrInLine = [this](TPolThread&, int ecr, const std::string& block, std::uint8_t result) {
      engine_.OnEcrStatus(server_, &control_, ecr, std::string(block), result);
    };
    thread_.OnInlSended = [this](TPolThread&, int ecr, std::uint8_t result) {
      engine_.OnCommandSent(server_, &control_, ecr, result);
    };
    thread_.OnInlReceived = [this](TPolThread&, int ecr, const std::string& block, std::uint8_t result) {
      engine_.OnCommandAnswer(server_, &control_, ecr, std::string(block), result);
    };
    thread_.OnOnlReceived = [this](TPolThread&, int ecr, const std::string& block, std::uint8_t result) {
      engine_.OnEcrMessage(server_, &control_, ecr, std::string(block), result);
    };
    thread_.OnOnlSended = [this](TPolThread&, int ecr, std::uint8_t result) {
      engine_.OnOnlineAnswerSent(server_, &control_, ecr, result);
    };
    thread_.OnNoAnswer = [this](TPolThread&, int, const std::string&, std::uint8_t) {
      engine_.ClearCurrentExchange();
    };
  }

  RequestEngine& engine_;
  ClientSender& server_;
  // Destroyed in reverse order: the thread ends first, so no handler runs once the
  // adapter its handlers pass goes, and the line it closes goes last.
  TSimpleComObject com_;
  PolThreadControl control_;
  TPolThread thread_;
};

}  // namespace

std::unique_ptr<PollingService> MakeSerialPollingService(const PollingStart& start, RequestEngine& engine,
                                                         ClientSender& server) {
  return std::make_unique<SerialPollingService>(start, engine, server);
}

}  // namespace ecr
