#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "simulator/web_socket.h"

namespace vexlan::sim {

static_assert(sizeof(sockaddr_in) <= 16, "LoopbackAddress holds a sockaddr_in");

LoopbackAddress::LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::memcpy(bytes_, &address, sizeof address);
}

const bool kExclusivePort = false;

void ShutdownSocket(intptr_t socket) { shutdown(static_cast<int>(socket), SHUT_RDWR); }

bool WriteToPipe(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  return written;
}

}  // namespace vexlan::sim
