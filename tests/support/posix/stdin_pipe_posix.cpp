#include <unistd.h>

#include <cstdio>

#include "tests/support/stdin_pipe.h"

namespace vexlan::test {

StdinPipe::StdinPipe() {
  int ends[2];
  if (pipe(ends) != 0) return;
  saved_stdin_ = dup(STDIN_FILENO);
  dup2(ends[0], STDIN_FILENO);
  close(ends[0]);
  write_end_ = ends[1];
  clearerr(stdin);
}

StdinPipe::~StdinPipe() {
  CloseWriteEnd();
  // Whatever the C library buffered from this pipe must not reach the next reader.
  while (std::fgetc(stdin) != EOF) {
  }
  if (saved_stdin_ >= 0) {
    dup2(saved_stdin_, STDIN_FILENO);
    close(saved_stdin_);
  }
  clearerr(stdin);
}

void StdinPipe::Write(const std::string& bytes) {
  if (write_end_ >= 0 && !bytes.empty()) (void)!write(write_end_, bytes.data(), bytes.size());
}

void StdinPipe::CloseWriteEnd() {
  if (write_end_ >= 0) close(write_end_);
  write_end_ = -1;
}

}  // namespace vexlan::test
