#include <unistd.h>

#include <cstdio>

#include "simulator/stdin_feed.h"

namespace vexlan::sim {

bool StdinFeed::Open() {
  int ends[2];
  if (write_end_ >= 0 || pipe(ends) != 0) return false;
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
