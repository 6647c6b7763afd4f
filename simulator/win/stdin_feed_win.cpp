#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "simulator/stdin_feed.h"

namespace vexlan::sim {

bool StdinFeed::Open() {
  int ends[2];
  if (write_end_ >= 0 || _pipe(ends, 4096, _O_BINARY) != 0) return false;
  if (_dup2(ends[0], 0) != 0) {
    _close(ends[0]);
    _close(ends[1]);
    return false;
  }
  _close(ends[0]);
  write_end_ = ends[1];
  clearerr(stdin);
  return true;
}

bool StdinFeed::Write(const std::string& characters) {
  if (write_end_ < 0) return false;
  return _write(write_end_, characters.data(), static_cast<unsigned>(characters.size())) ==
         static_cast<int>(characters.size());
}

void StdinFeed::Close() {
  if (write_end_ >= 0) _close(write_end_);
  write_end_ = -1;
}

}  // namespace vexlan::sim
