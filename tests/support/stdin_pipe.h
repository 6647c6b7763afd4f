// Replaces the process's standard input with a pipe that the test writes to, for scripts waiting in
// Listen. Restores the original standard input on destruction.
#pragma once

#include <string>

namespace vexlan::test {

class StdinPipe {
 public:
  StdinPipe();
  ~StdinPipe();
  StdinPipe(const StdinPipe&) = delete;
  StdinPipe& operator=(const StdinPipe&) = delete;

  void Write(const std::string& bytes);
  // End of input: every later read returns at once.
  void CloseWriteEnd();

 private:
  int saved_stdin_ = -1;
  int write_end_ = -1;
};

}  // namespace vexlan::test
