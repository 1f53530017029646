// Benchmark: round trips of requests that the register server answers by itself (open,
// state and close of a SET), over 500 open connections, next to a bare loopback echo of
// frames of the same size measured in the same run. Prints p50 and p99 in microseconds.
//
//   server_client_round_trip_bench [rounds per connection, default 10]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "server/client_message.h"
#include "server/commands.h"
#include "server/frame_cutter.h"
#include "server/request_engine.h"
#include "server/sock_server.h"

namespace {

using Clock = std::chrono::steady_clock;

class NoSaver : public ecr::SettingsSaver {
 public:
  void Save() override {}
};

int ConnectTo(std::uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("connect failed");
  }
  const int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return s;
}

void SendAll(int s, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(s, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send failed");
    done += static_cast<std::size_t>(n);
  }
}

// Reads one frame (blocking).
std::string ReadFrame(int s) {
  unsigned char length = 0;
  if (recv(s, &length, 1, MSG_WAITALL) != 1) throw std::runtime_error("connection closed");
  std::string message(length, '\0');
  if (length > 0 && recv(s, message.data(), length, MSG_WAITALL) != length) {
    throw std::runtime_error("connection closed");
  }
  return message;
}

struct Figures {
  double p50;
  double p99;
  std::size_t count;
};

Figures Summarise(std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double q) { return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))]; };
  return {at(0.50), at(0.99), micros.size()};
}

// A plain blocking echo of frames on its own thread: the floor that loopback sets.
std::vector<double> MeasureEcho(const std::vector<std::string>& frames, int rounds) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  listen(listener, 8);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::thread echo([listener] {
    const int peer = accept(listener, nullptr, nullptr);
    const int on = 1;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    try {
      for (;;) SendAll(peer, ecr::MakeClientFrame(ReadFrame(peer)));
    } catch (const std::exception&) {
    }
    close(peer);
  });
  const int client = ConnectTo(ntohs(address.sin_port));
  std::vector<double> micros;
  for (int round = 0; round < rounds; ++round) {
    for (const std::string& frame : frames) {
      const auto start = Clock::now();
      SendAll(client, frame);
      ReadFrame(client);
      micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  close(client);
  echo.join();
  close(listener);
  return micros;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  constexpr int kConnections = ecr::TSockServer::kClientSlots;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }

  QCoreApplication app(argc, argv);
  ecr::ServerSettings settings;
  NoSaver saver;
  ecr::RequestEngine engine(settings, saver, "v0.0.0.0");
  ecr::TSockServer server;
  server.SetLocalPort(0);
  server.OnDataIn = [&](std::uint16_t id, const std::string& data) {
    engine.DispatchRequest(server, nullptr, id, data);
  };
  server.OnDisconnect = [&](std::uint16_t id) { engine.ClientDisconnected(server, nullptr, id); };
  server.Open();
  const std::uint16_t port = server.BoundPort();

  std::vector<double> serverMicros;
  std::string failure;
  std::thread clients([&] {
    try {
      std::vector<int> sockets;
      for (int i = 0; i < kConnections; ++i) sockets.push_back(ConnectTo(port));
      for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < kConnections; ++i) {
          const auto logNo = static_cast<std::uint8_t>(i % 99 + 1);
          for (const std::uint8_t command : {ecr::cmdOpen, ecr::cmdState, ecr::cmdClose}) {
            const std::string frame = ecr::MakeClientFrame(ecr::BuildClientMessage(1, command, logNo, 0, {}, {}));
            const auto start = Clock::now();
            SendAll(sockets[static_cast<std::size_t>(i)], frame);
            ReadFrame(sockets[static_cast<std::size_t>(i)]);
            serverMicros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
          }
        }
      }
      for (int s : sockets) close(s);
    } catch (const std::exception& error) {
      failure = error.what();
    }
    QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  app.exec();
  clients.join();
  if (!failure.empty()) {
    std::fprintf(stderr, "failed: %s\n", failure.c_str());
    return 1;
  }

  std::vector<std::string> frames;
  for (const std::uint8_t command : {ecr::cmdOpen, ecr::cmdState, ecr::cmdClose}) {
    frames.push_back(ecr::MakeClientFrame(ecr::BuildClientMessage(1, command, 1, 0, {}, {})));
  }
  const Figures viaServer = Summarise(serverMicros);
  const Figures echo = Summarise(MeasureEcho(frames, rounds * kConnections));
  std::printf("connections open:          %d\n", kConnections);
  std::printf("server round trip (open/state/close): p50 %8.1f us  p99 %8.1f us  (%zu requests)\n",
              viaServer.p50, viaServer.p99, viaServer.count);
  std::printf("bare loopback echo:                   p50 %8.1f us  p99 %8.1f us  (%zu requests)\n",
              echo.p50, echo.p99, echo.count);
  return 0;
}
