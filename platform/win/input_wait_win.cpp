#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/input_wait.h"

namespace vexlan::platform {
namespace {

constexpr DWORD kPeekMilliseconds = 5;

// A pipe has no waitable state: peek at it until bytes arrive, the writer is gone, or time runs out.
bool WaitForPipe(HANDLE pipe, int milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available > 0) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPeekMilliseconds);
  }
}

// True when the console's input holds a pressed Enter: a line-mode read then returns at once.
bool EnterWaiting(HANDLE console) {
  INPUT_RECORD records[64];
  DWORD count = 0;
  if (!PeekConsoleInputW(console, records, 64, &count)) return true;
  for (DWORD i = 0; i < count; ++i) {
    const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
    if (records[i].EventType == KEY_EVENT && key.bKeyDown && key.wVirtualKeyCode == VK_RETURN) return true;
  }
  return false;
}

// Console events (keys, mouse, focus) keep its handle signalled without a line to read, so it is
// looked at every few milliseconds instead.
bool WaitForConsole(HANDLE console, int milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  for (;;) {
    if (EnterWaiting(console)) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPeekMilliseconds);
  }
}

}  // namespace

bool WaitForInput(int milliseconds) {
  if (stdin->_cnt > 0) return true;  // buffered in the (msvcrt) stream already
  const HANDLE input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin)));
  if (input == INVALID_HANDLE_VALUE || input == nullptr) return true;
  switch (GetFileType(input)) {
    case FILE_TYPE_PIPE:
      return WaitForPipe(input, milliseconds);
    case FILE_TYPE_CHAR: {
      DWORD mode = 0;
      if (GetConsoleMode(input, &mode)) return WaitForConsole(input, milliseconds);
      return true;  // the NUL device, or another character device
    }
    default:
      return true;  // a file
  }
}

}  // namespace vexlan::platform
