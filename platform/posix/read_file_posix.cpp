#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/read_file.h"

namespace vexlan::platform {

bool ReadFileBytes(const char* name, size_t limit, std::vector<uint8_t>* bytes) {
  const int file = open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (file < 0) return false;
  struct stat status;
  bool ok = fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= 0 &&
            static_cast<uint64_t>(status.st_size) <= limit;
  if (ok) {
    bytes->resize(static_cast<size_t>(status.st_size));
    size_t got = 0;
    while (ok && got < bytes->size()) {
      const ssize_t read_now = read(file, bytes->data() + got, bytes->size() - got);
      if (read_now < 0 && errno == EINTR) continue;
      if (read_now <= 0)
        ok = read_now == 0, bytes->resize(got);  // shrunk meanwhile: what there was
      else
        got += static_cast<size_t>(read_now);
      if (read_now == 0) break;
    }
  }
  close(file);
  return ok;
}

}  // namespace vexlan::platform
