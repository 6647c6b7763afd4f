#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "simulator/stdin_feed.h"

namespace vexlan::sim {

// The stream `stdin` is pointed at the pipe's descriptor; descriptor 0 and the process's standard-input
// handle stay as they are. Replacing descriptor 0 (_dup2) would close that handle, which a host on
// another C run-time still reads through its own descriptor 0: its reads would fail, and the handle's
// value could later name another object. Neither end is inherited by child processes, so a program
// started with io.popen cannot keep the input from ending.
bool StdinFeed::Open() {
  int ends[2];
  if (write_end_ >= 0 || _pipe(ends, 4096, _O_BINARY | _O_NOINHERIT) != 0) return false;
  _lock_file(stdin);
  stdin->_file = ends[0];
  stdin->_cnt = 0;  // nothing left over from the old input
  stdin->_flag &= ~(_IOEOF | _IOERR);
  _unlock_file(stdin);
  write_end_ = ends[1];
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
