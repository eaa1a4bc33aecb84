// The child is a Linux program: a Windows program under Wine cannot start one and keep a handle
// to it, so tests/servers/broker.py, started beside the tests on the Linux side, starts it and
// relays its standard streams over a loopback connection (the frames are described there). The
// broker's port is in QUILLFEN_TEST_BROKER.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "support/child_process.h"

namespace quillfen::test {

namespace {

// The frames carry lengths and the exit code as 4 bytes, big-endian.
std::uint32_t bigEndian(const char* bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  return value;
}

}  // namespace

struct ChildProcess::Process {
  ~Process() {
    // The broker closes the child's input, and the connection once the child is gone.
    ::shutdown(connection, SD_SEND);
    if (reader.joinable()) reader.join();
    ::closesocket(connection);
  }

  void send(char tag, const std::string& payload = {}) {
    std::string frame(1, tag);
    for (int shift = 24; shift >= 0; shift -= 8)
      frame += static_cast<char>((payload.size() >> shift) & 0xFF);
    frame += payload;
    ::send(connection, frame.data(), static_cast<int>(frame.size()), 0);
  }
  bool receive(char* data, std::size_t size) {
    for (int got = 0; size > 0; data += got, size -= static_cast<std::size_t>(got))
      if ((got = ::recv(connection, data, static_cast<int>(size), 0)) <= 0) return false;
    return true;
  }
  // Keeps what the broker relays until the connection ends.
  void readFrames() {
    char header[5];
    std::string payload;
    while (receive(header, sizeof header)) {
      const std::uint32_t size = bigEndian(header + 1);
      payload.resize(size);
      if (!receive(payload.data(), size)) break;
      const std::lock_guard lock(mutex);
      if (header[0] == 'o') output += payload;
      if (header[0] == 'e' && captureErrors) errors += payload;
      if (header[0] == 'e' && !captureErrors) std::fwrite(payload.data(), 1, size, stderr);
      if (header[0] == 'x' && size == 4)
        exitCode = static_cast<std::int32_t>(bigEndian(&payload[0]));
    }
    const std::lock_guard lock(mutex);
    if (!exitCode) exitCode = -1;  // the broker went away
  }

  SOCKET connection = INVALID_SOCKET;
  bool captureErrors = false;
  bool inputOpen = true;
  std::thread reader;
  mutable std::mutex mutex;  // guards what follows, written by the reader
  std::string output, errors;
  std::optional<int> exitCode;
};

namespace {

SOCKET connectToBroker() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  const char* port = std::getenv("QUILLFEN_TEST_BROKER");
  if (!started || port == nullptr)
    throw std::runtime_error(
        "QUILLFEN_TEST_BROKER names no port: scripts/test-windows starts tests/servers/broker.py");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
  const SOCKET connection = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (connection != INVALID_SOCKET &&
      ::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
    return connection;
  ::closesocket(connection);
  throw std::runtime_error("no broker answers on port " + std::string(port));
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, bool captureErrors)
    : process_(std::make_unique<Process>()) {
  process_->connection = connectToBroker();
  process_->captureErrors = captureErrors;
  for (const std::string& argument : argv) process_->send('a', argument);
  process_->send('r');
  process_->reader = std::thread([process = process_.get()] { process->readFrames(); });
}

ChildProcess::~ChildProcess() {
  closeInput();
  wait(std::chrono::seconds(5));
}

bool ChildProcess::running() {
  const std::lock_guard lock(process_->mutex);
  return !process_->exitCode;
}

void ChildProcess::closeInput() {
  if (process_->inputOpen) process_->send('c');
  process_->inputOpen = false;
}

int ChildProcess::wait(std::chrono::milliseconds deadline) {
  const auto waitUntil = [this](std::chrono::steady_clock::time_point until) {
    while (running() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  waitUntil(std::chrono::steady_clock::now() + deadline);
  if (running()) {
    process_->send('k');
    waitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(5));
  }
  const std::lock_guard lock(process_->mutex);
  return process_->exitCode.value_or(-1);
}

std::string ChildProcess::output() const {
  const std::lock_guard lock(process_->mutex);
  return process_->output;
}

std::string ChildProcess::errors() const {
  const std::lock_guard lock(process_->mutex);
  return process_->errors;
}

}  // namespace quillfen::test
