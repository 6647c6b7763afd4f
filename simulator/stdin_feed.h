// The process's standard input, taken over by a scenario so that its `key` events reach a script waiting
// in Listen. Open() puts the read end of a pipe in place of standard input (file descriptor 0 of the C
// run-time library that the host, Lua and the module share); Write() sends characters; Close() ends
// the input, so that every later read returns at once. Each returns false when the system refuses.
// POSIX: pipe, dup2. Windows: _pipe, _dup2 of the C run-time library.
#pragma once

#include <string>

namespace vexlan::sim {

class StdinFeed {
 public:
  bool Open();
  bool Write(const std::string& characters);
  void Close();

 private:
  int write_end_ = -1;
};

}  // namespace vexlan::sim
