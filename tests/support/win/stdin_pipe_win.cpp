#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "tests/support/stdin_pipe.h"

namespace vexlan::test {

StdinPipe::StdinPipe() {
  int ends[2];
  if (_pipe(ends, 4096, _O_BINARY) != 0) return;
  saved_stdin_ = _dup(0);
  _dup2(ends[0], 0);
  _close(ends[0]);
  write_end_ = ends[1];
  clearerr(stdin);
}

StdinPipe::~StdinPipe() {
  CloseWriteEnd();
  // Whatever the C library buffered from this pipe must not reach the next reader.
  while (std::fgetc(stdin) != EOF) {
  }
  if (saved_stdin_ >= 0) {
    _dup2(saved_stdin_, 0);
    _close(saved_stdin_);
  }
  clearerr(stdin);
}

void StdinPipe::Write(const std::string& bytes) {
  if (write_end_ >= 0 && !bytes.empty()) _write(write_end_, bytes.data(), static_cast<unsigned>(bytes.size()));
}

void StdinPipe::CloseWriteEnd() {
  if (write_end_ >= 0) _close(write_end_);
  write_end_ = -1;
}

}  // namespace vexlan::test
