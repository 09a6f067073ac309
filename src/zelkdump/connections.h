// How serve meets its clients, so that slow or idle ones cannot hold it.
// cpp-httplib reads requests with a timeout for each read only: a client
// that sends a byte every few seconds would hold a connection for hours. So
// serve's own front door takes the connections: each on a thread of its own
// (started as connections come, up to kMaxConnections at once, kept for the
// next ones), each request read whole within kRequestSeconds of its first
// byte (else the connection is closed), then passed to the library's server,
// which listens on loopback alone, on a connection of its own that closes
// with the answer, relayed back. Only the library's public interface is
// used: its server on a port of its own, and a task queue of ours.
#pragma once

#include <httplib.h>

#include <atomic>
#include <string>

namespace zelk {

inline constexpr int kRequestSeconds = 4;        // for a request's line and headers
inline constexpr int kIdleSeconds = 2;           // before a request's first byte
inline constexpr size_t kMaxConnections = 1024;  // answered at once; more wait their turn

// The threads that answer connections: serve's own, and the library's, for
// Server::new_task_queue.
httplib::TaskQueue* new_connection_threads();

// A socket listening on host:port (0: any free port), SO_REUSEADDR only, so
// that a port another server holds is an error; -1 with errno set when it
// cannot be had. port receives the port bound.
int listen_on(const std::string& host, int& port);

// Takes the connections of listening until stopping is set (and the socket
// shut down), passing each request to the server on 127.0.0.1:inner_port.
void serve_front_door(int listening, int inner_port, const std::atomic<bool>& stopping);

}  // namespace zelk
