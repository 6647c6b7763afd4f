#include <poll.h>

#include <cstdio>

#include "platform/input_wait.h"

namespace vexlan::platform {

bool WaitForInput(int milliseconds) {
  // Characters the stream has buffered already (glibc keeps its read window in the FILE itself).
  if (stdin->_IO_read_ptr < stdin->_IO_read_end) return true;
  pollfd input{0, POLLIN, 0};
  const int ready = poll(&input, 1, milliseconds);
  if (ready < 0) return true;  // interrupted or not pollable: let the read tell
  return ready > 0;            // readable, hung up or closed all count: the read will not block
}

}  // namespace vexlan::platform
