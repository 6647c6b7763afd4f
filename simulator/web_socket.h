// What the live panels' server needs from the operating system's sockets and pipes, behind one small
// interface. POSIX: sockaddr_in, shutdown, open(O_NONBLOCK) and write. Windows: the same through
// Winsock and the C run-time library.
#pragma once

#include <cstdint>
#include <string>

namespace vexlan::sim {

// 127.0.0.1:port as a struct sockaddr_in, for the server to bind.
struct LoopbackAddress {
  explicit LoopbackAddress(int port);
  const void* get() const { return bytes_; }

 private:
  alignas(8) unsigned char bytes_[16];
};

// Whether the server must ask for its port alone. Windows lets a second process bind a port a first one
// holds unless the first asks for it exclusively (SO_EXCLUSIVEADDRUSE); POSIX refuses two listeners on
// one port anyway, and the server's default there (SO_REUSEADDR) lets it bind its port again while the
// previous run's connections linger.
extern const bool kExclusivePort;

// Ends both directions of a connection the server still owns: its thread sees the end and closes it.
void ShutdownSocket(intptr_t socket);

// Writes `bytes` to the pipe at `path` without waiting: false when no one reads it (or it is gone) or it
// is full.
bool WriteToPipe(const std::string& path, const std::string& bytes);

}  // namespace vexlan::sim
