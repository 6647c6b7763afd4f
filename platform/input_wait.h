// Waiting for standard input without reading it, so that a loop can do timed work and still take one
// turn per character and end at the end of input.
//
// WaitForInput(milliseconds) returns true as soon as a read of one character from the C library's
// `stdin` would not block: a character is buffered or available, or the input is at its end (a read then
// gives EOF); false when `milliseconds` pass first. It reads nothing and never fails outwardly: where
// readiness cannot be told, it says ready, and the read that follows may wait.
// POSIX: the stream's buffer, then poll() on descriptor 0.
// Windows: the stream's buffer, then by the handle's type: a pipe is peeked (a closed one is at its end),
// a console waits for Enter (its reads return whole lines), a file or the NUL device is always ready.
#pragma once

namespace vexlan::platform {
bool WaitForInput(int milliseconds);
}
