#include "zelkdump/connections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
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

// A connection's socket as the library reads and writes it: reads through a
// buffer, each failing once the request's deadline has passed; writes with
// a timeout of their own.
struct Connection final : httplib::Stream {
  Connection(int s, std::chrono::seconds write) : sock(s), write_timeout(write) {}
  int sock;
  std::chrono::seconds write_timeout;
  Clock::time_point deadline;
  char buffer[4096];
  size_t pos = 0, end = 0;

  bool is_readable() const override { return pos < end || wait_until(sock, POLLIN, deadline); }
  bool is_writable() const override {
    return wait_until(sock, POLLOUT, Clock::now() + write_timeout);
  }
  ssize_t read(char* out, size_t size) override {
    if (pos == end) {
      if (!is_readable()) return -1;
      ssize_t n;
      do {
        n = recv(sock, buffer, sizeof buffer, 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      pos = 0;
      end = static_cast<size_t>(n);
    }
    size_t n = std::min(size, end - pos);
    std::memcpy(out, buffer + pos, n);
    pos += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* data, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do {
      n = send(sock, data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&a), &len) == 0) address_of(a, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&a), &len) == 0) address_of(a, ip, port);
  }
  socket_t socket() const override { return sock; }
};

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

}  // namespace

bool GuardedServer::process_and_close_socket(socket_t sock) {
  Connection c(sock, std::chrono::seconds(write_timeout_sec_));
  bool ok = false;
  for (size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
    // The next request may take its time to begin, then must arrive whole.
    if (c.pos == c.end) {
      auto idle = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
      bool ready = false;
      while (!ready && svr_sock_ != INVALID_SOCKET && Clock::now() < idle) {
        ready =
            wait_until(sock, POLLIN, std::min(idle, Clock::now() + std::chrono::milliseconds(100)));
      }
      if (!ready) break;
    }
    c.deadline = Clock::now() + std::chrono::seconds(kRequestSeconds);
    bool closed = false;
    ok = process_request(c, left == 1, closed, nullptr);
    if (!ok || closed) break;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

httplib::TaskQueue* new_connection_threads() { return new ConnectionThreads(); }

}  // namespace zelk
