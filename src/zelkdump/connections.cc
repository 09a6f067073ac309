#include "zelkdump/connections.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace zelk {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until sock is ready for events, at most until the deadline; false
// when it is not by then (or the wait fails).
bool wait_until(int sock, short events, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{sock, events, 0};
    int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// Whether a header line begins with name (lower case), in any case.
bool starts_with_name(std::string_view line, std::string_view name) {
  if (line.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  }
  return true;
}

// The Content-Length a request's head announces, 0 when none.
size_t content_length(const std::string& head) {
  for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
    std::string_view line = std::string_view(head).substr(at + 2);
    if (starts_with_name(line, "content-length:")) {
      return static_cast<size_t>(std::strtoull(line.data() + 15, nullptr, 10));
    }
  }
  return 0;
}

// "127.0.0.1" and 8080 for a socket's address.
void address_of(const sockaddr_storage& a, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

// Threads started as connections come, never more than kMaxConnections,
// each taking the next connection when done with one.
struct ConnectionThreads final : httplib::TaskQueue {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::function<void()>> waiting;
  std::vector<std::thread> threads;
  size_t idle = 0;
  bool stopping = false;

  void enqueue(std::function<void()> fn) override {
    std::unique_lock held(lock);
    waiting.push_back(std::move(fn));
    if (waiting.size() > idle && threads.size() < kMaxConnections) {
      threads.emplace_back([this] { work(); });
    }
    wake.notify_one();
  }
  void shutdown() override {
    {
      std::unique_lock held(lock);
      stopping = true;
    }
    wake.notify_all();
    for (std::thread& t : threads) t.join();
  }
  void work() {
    std::unique_lock held(lock);
    for (;;) {
      ++idle;
      wake.wait(held, [this] { return stopping || !waiting.empty(); });
      --idle;
      if (waiting.empty()) return;
      std::function<void()> fn = std::move(waiting.front());
      waiting.pop_front();
      held.unlock();
      fn();
      held.lock();
    }
  }
};

constexpr int kWriteSeconds = 5;           // for each write of an answer
constexpr size_t kMaxRequestHead = 16384;  // a request's line and headers, at most
constexpr size_t kMaxRequestBody = 4096;   // the body a request may have

// Reads a request from client: its first byte within kIdleSeconds, then
// the whole of it (line, headers, and the body they announce) within
// kRequestSeconds; false when it does not come so.
bool read_request(int client, std::string& request) {
  if (!wait_until(client, POLLIN, Clock::now() + std::chrono::seconds(kIdleSeconds))) return false;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kRequestSeconds);
  size_t head_end = std::string::npos, want = kMaxRequestHead;
  char buffer[4096];
  while (request.size() < want) {
    if (!wait_until(client, POLLIN, deadline)) return false;
    ssize_t n = recv(client, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    request.append(buffer, static_cast<size_t>(n));
    if (head_end == std::string::npos &&
        (head_end = request.find("\r\n\r\n")) != std::string::npos) {
      head_end += 4;
      want = head_end + std::min(content_length(request.substr(0, head_end)), kMaxRequestBody);
    }
    if (head_end == std::string::npos && request.size() >= kMaxRequestHead) return false;
  }
  if (head_end == std::string::npos) return false;
  request.resize(want);
  return true;
}

// The request with "Connection: close" in place of what it says of its
// connection: the server answers it and closes, and so does serve.
std::string closing(const std::string& request) {
  size_t head_end = request.find("\r\n\r\n");
  std::string out;
  for (size_t at = 0; at < head_end + 2;) {
    size_t end = request.find("\r\n", at) + 2;
    std::string_view line(request.data() + at, end - at);
    if (!starts_with_name(line, "connection:") && !starts_with_name(line, "keep-alive:")) {
      out.append(line);
    }
    at = end;
  }
  return out + "Connection: close\r\n\r\n" + request.substr(head_end + 4);
}

// Writes all of data to sock, each write within kWriteSeconds.
bool send_all(int sock, std::string_view data) {
  while (!data.empty()) {
    if (!wait_until(sock, POLLOUT, Clock::now() + std::chrono::seconds(kWriteSeconds)))
      return false;
    ssize_t n = send(sock, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Passes request to the server on loopback and its answer back to client.
void relay(int client, const std::string& request, int inner_port) {
  int inner = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (inner < 0) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(inner_port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(inner, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
      send_all(inner, closing(request))) {
    char buffer[65536];
    for (;;) {
      ssize_t n = recv(inner, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || !send_all(client, std::string_view(buffer, static_cast<size_t>(n)))) break;
    }
  }
  close(inner);
}

}  // namespace

httplib::TaskQueue* new_connection_threads() { return new ConnectionThreads(); }

int listen_on(const std::string& host, int& port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (int r = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); r != 0) {
    errno = r == EAI_SYSTEM ? errno : EADDRNOTAVAIL;
    return -1;
  }
  int sock = -1, error = 0;
  for (addrinfo* a = found; a && sock < 0; a = a->ai_next) {
    sock = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (sock < 0) continue;
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(sock, a->ai_addr, a->ai_addrlen) != 0 || listen(sock, SOMAXCONN) != 0) {
      error = errno;
      close(sock);
      sock = -1;
    }
  }
  freeaddrinfo(found);
  if (sock < 0) {
    errno = error;
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(sock, reinterpret_cast<sockaddr*>(&bound), &length);
  std::string ip;
  address_of(bound, ip, port);
  return sock;
}

void serve_front_door(int listening, int inner_port, const std::atomic<bool>& stopping) {
  std::unique_ptr<httplib::TaskQueue> threads(new_connection_threads());
  while (!stopping) {
    if (!wait_until(listening, POLLIN, Clock::now() + std::chrono::milliseconds(100))) continue;
    int client = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    threads->enqueue([client, inner_port] {
      std::string request;
      if (read_request(client, request)) relay(client, request, inner_port);
      ::shutdown(client, SHUT_RDWR);
      close(client);
    });
  }
  threads->shutdown();
}

}  // namespace zelk
