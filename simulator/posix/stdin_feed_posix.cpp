#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "simulator/stdin_feed.h"

namespace vexlan::sim {

// Both ends are closed on exec; dup2 gives descriptor 0 without that flag, so a child still inherits its
// standard input, but never the write end, which would keep the input from ending until the child exits.
bool StdinFeed::Open() {
  int ends[2];
  if (write_end_ >= 0 || pipe2(ends, O_CLOEXEC) != 0) return false;
  if (dup2(ends[0], STDIN_FILENO) < 0) {
    close(ends[0]);
    close(ends[1]);
    return false;
  }
  close(ends[0]);
  write_end_ = ends[1];
  clearerr(stdin);
  return true;
}

bool StdinFeed::Write(const std::string& characters) {
  if (write_end_ < 0) return false;
  return write(write_end_, characters.data(), characters.size()) == static_cast<ssize_t>(characters.size());
}

void StdinFeed::Close() {
  if (write_end_ >= 0) close(write_end_);
  write_end_ = -1;
}

}  // namespace vexlan::sim
