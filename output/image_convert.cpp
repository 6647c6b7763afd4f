#include "output/image_convert.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEXLAN_HAVE_SSSE3_PATH 1
#endif

namespace vexlan {
namespace {

constexpr size_t kRawRowBytes = kImageWidth * 4;
constexpr size_t kDeviceRowBytes = kImageWidth * 3;

const uint8_t* SourceRowOf(const uint8_t* raw, int device_row) {
  return raw + kRawHeaderBytes + kRawRowBytes * static_cast<size_t>(kImageHeight - 1 - device_row);
}

#if VEXLAN_HAVE_SSSE3_PATH
// 16 raw pixels (64 bytes) become 48 device bytes: one byte shuffle per 4 pixels, then the four 12-byte
// pieces are packed into three 16-byte stores.
__attribute__((target("ssse3"))) void ConvertRawImageSsse3(const uint8_t* raw, uint8_t* device) {
  const __m128i to_bgr = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  for (int row = 0; row < kImageHeight; ++row) {
    const uint8_t* source = SourceRowOf(raw, row);
    uint8_t* target = device + kDeviceRowBytes * static_cast<size_t>(row);
    for (int x = 0; x < kImageWidth; x += 16, source += 64, target += 48) {
      const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source)), to_bgr);
      const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16)), to_bgr);
      const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 32)), to_bgr);
      const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 48)), to_bgr);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm_or_si128(a, _mm_slli_si128(b, 12)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 16), _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 32), _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
  }
}

bool CpuHasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

}  // namespace

void ConvertRawImageScalar(const uint8_t* raw, uint8_t* device) {
  for (int row = 0; row < kImageHeight; ++row) {
    const uint8_t* source = SourceRowOf(raw, row);
    uint8_t* target = device + kDeviceRowBytes * static_cast<size_t>(row);
    for (int x = 0; x < kImageWidth; ++x, source += 4, target += 3) {
      target[0] = source[2];
      target[1] = source[1];
      target[2] = source[0];
    }
  }
}

void ConvertRawImage(const uint8_t* raw, uint8_t* device) {
#if VEXLAN_HAVE_SSSE3_PATH
  if (CpuHasSsse3()) return ConvertRawImageSsse3(raw, device);
#endif
  ConvertRawImageScalar(raw, device);
}

}  // namespace vexlan
