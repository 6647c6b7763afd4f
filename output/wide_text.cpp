#include "output/wide_text.h"

#include <cstdlib>
#include <cstring>

#include "platform/text_conversion.h"

namespace vexlan {

int32_t ToWideString(const char* text, WideChar** buffer) {
  const size_t n = std::strlen(text);
  *buffer = static_cast<WideChar*>(std::malloc(2 * (n + 1)));
  if (*buffer == nullptr) return 0;
  return static_cast<int32_t>(platform::MultiByteToWide(text, *buffer, n + 1));
}

}  // namespace vexlan
