#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "simulator/web_socket.h"

namespace vexlan::sim {

static_assert(sizeof(sockaddr_in) <= 16, "LoopbackAddress holds a sockaddr_in");

LoopbackAddress::LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  // Byte order by hand: htons would need Winsock started, which the server does only when it starts.
  const auto port16 = static_cast<uint16_t>(port);
  const unsigned char port_bytes[2] = {static_cast<unsigned char>(port16 >> 8), static_cast<unsigned char>(port16)};
  std::memcpy(&address.sin_port, port_bytes, 2);
  const unsigned char loopback[4] = {127, 0, 0, 1};
  std::memcpy(&address.sin_addr, loopback, 4);
  std::memcpy(bytes_, &address, sizeof address);
}

const bool kExclusivePort = true;

void ShutdownSocket(intptr_t socket) { shutdown(static_cast<SOCKET>(socket), SD_BOTH); }

bool WriteToPipe(const std::string& path, const std::string& bytes) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (units <= 0) return false;
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), units);
  HANDLE pipe = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(pipe);
  return ok && written == bytes.size();
}

}  // namespace vexlan::sim
