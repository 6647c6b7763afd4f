#include "output/image_convert.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEXLAN_HAVE_SSSE3_PATH 1  // and AVX2, chosen at run time
#endif

namespace vexlan {
namespace {

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
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 16),
                       _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 32),
                       _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
  }
}

// 32 raw pixels (128 bytes) become 96 device bytes in three whole 32-byte stores. A byte shuffle leaves
// each 128-bit lane with three BGR dwords; dword permutes and blends then pack the four vectors' 24
// useful bytes each end to end. A device row (960 bytes) is exactly ten such groups.
__attribute__((target("avx2"))) void ConvertRawImageAvx2(const uint8_t* raw, uint8_t* device) {
  const __m256i to_bgr = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,  //
                                          2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  // Useful dwords of a shuffled vector, in order: 0, 1, 2, 4, 5, 6.
  const __m256i first_a = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 0, 0);
  const __m256i first_b = _mm256_setr_epi32(0, 0, 0, 0, 0, 0, 0, 1);
  const __m256i second_b = _mm256_setr_epi32(2, 4, 5, 6, 0, 0, 0, 0);
  const __m256i second_c = _mm256_setr_epi32(0, 0, 0, 0, 0, 1, 2, 4);
  const __m256i third_c = _mm256_setr_epi32(5, 6, 0, 0, 0, 0, 0, 0);
  const __m256i third_d = _mm256_setr_epi32(0, 0, 0, 1, 2, 4, 5, 6);
  // Source rows in memory order (what the prefetcher follows best), device rows from the top down.
  for (int row = kImageHeight - 1; row >= 0; --row) {
    const uint8_t* source = SourceRowOf(raw, row);
    uint8_t* target = device + kDeviceRowBytes * static_cast<size_t>(row);
    for (int x = 0; x < kImageWidth; x += 32, source += 128, target += 96) {
      const __m256i* in = reinterpret_cast<const __m256i*>(source);
      const __m256i a = _mm256_shuffle_epi8(_mm256_loadu_si256(in), to_bgr);
      const __m256i b = _mm256_shuffle_epi8(_mm256_loadu_si256(in + 1), to_bgr);
      const __m256i c = _mm256_shuffle_epi8(_mm256_loadu_si256(in + 2), to_bgr);
      const __m256i d = _mm256_shuffle_epi8(_mm256_loadu_si256(in + 3), to_bgr);
      __m256i* out = reinterpret_cast<__m256i*>(target);
      _mm256_storeu_si256(out, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(a, first_a),
                                                  _mm256_permutevar8x32_epi32(b, first_b), 0xC0));
      _mm256_storeu_si256(out + 1, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(b, second_b),
                                                      _mm256_permutevar8x32_epi32(c, second_c), 0xF0));
      _mm256_storeu_si256(out + 2, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(c, third_c),
                                                      _mm256_permutevar8x32_epi32(d, third_d), 0xFC));
    }
  }
}

// 64 raw pixels (256 bytes) become 192 device bytes: each 64-byte output vector takes its bytes from two
// neighbouring 64-byte input vectors with one two-table byte permute.
struct PermuteIndexes {
  alignas(64) uint8_t bytes[3][64];
};

constexpr PermuteIndexes MakePermuteIndexes() {
  PermuteIndexes indexes{};
  for (int vector = 0; vector < 3; ++vector)
    for (int i = 0; i < 64; ++i) {
      const int output = 64 * vector + i;                      // byte of the 192 produced
      const int source = 4 * (output / 3) + (2 - output % 3);  // blue, green, red from red, green, blue
      indexes.bytes[vector][i] = static_cast<uint8_t>(source - 64 * vector);
    }
  return indexes;
}
constexpr PermuteIndexes kPermuteIndexes = MakePermuteIndexes();

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void ConvertRawImageAvx512Vbmi(const uint8_t* raw,
                                                                                      uint8_t* device) {
  const __m512i first = _mm512_load_si512(kPermuteIndexes.bytes[0]);
  const __m512i second = _mm512_load_si512(kPermuteIndexes.bytes[1]);
  const __m512i third = _mm512_load_si512(kPermuteIndexes.bytes[2]);
  for (int row = kImageHeight - 1; row >= 0; --row) {
    const uint8_t* source = SourceRowOf(raw, row);
    uint8_t* target = device + kDeviceRowBytes * static_cast<size_t>(row);
    for (int x = 0; x < kImageWidth; x += 64, source += 256, target += 192) {
      const __m512i a = _mm512_loadu_si512(source);
      const __m512i b = _mm512_loadu_si512(source + 64);
      const __m512i c = _mm512_loadu_si512(source + 128);
      const __m512i d = _mm512_loadu_si512(source + 192);
      _mm512_storeu_si512(target, _mm512_permutex2var_epi8(a, first, b));
      _mm512_storeu_si512(target + 64, _mm512_permutex2var_epi8(b, second, c));
      _mm512_storeu_si512(target + 128, _mm512_permutex2var_epi8(c, third, d));
    }
  }
}

bool Supports(ConversionPath path) {
  switch (path) {
    case ConversionPath::kAvx512Vbmi:
      return __builtin_cpu_supports("avx512vbmi");
    case ConversionPath::kAvx2:
      return __builtin_cpu_supports("avx2");
    case ConversionPath::kSsse3:
      return __builtin_cpu_supports("ssse3");
    case ConversionPath::kBytes:
      return true;
  }
  return false;
}

ConversionPath BestPath() {
  static const ConversionPath path = __builtin_cpu_supports("avx512vbmi") ? ConversionPath::kAvx512Vbmi
                                     : __builtin_cpu_supports("avx2")     ? ConversionPath::kAvx2
                                     : __builtin_cpu_supports("ssse3")    ? ConversionPath::kSsse3
                                                                          : ConversionPath::kBytes;
  return path;
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

bool ConvertRawImageWith(ConversionPath path, const uint8_t* raw, uint8_t* device) {
#if VEXLAN_HAVE_SSSE3_PATH
  if (!Supports(path)) return false;
  switch (path) {
    case ConversionPath::kAvx512Vbmi:
      ConvertRawImageAvx512Vbmi(raw, device);
      return true;
    case ConversionPath::kAvx2:
      ConvertRawImageAvx2(raw, device);
      return true;
    case ConversionPath::kSsse3:
      ConvertRawImageSsse3(raw, device);
      return true;
    case ConversionPath::kBytes:
      break;
  }
#else
  if (path != ConversionPath::kBytes) return false;
#endif
  ConvertRawImageScalar(raw, device);
  return true;
}

void ConvertRawImage(const uint8_t* raw, uint8_t* device) {
#if VEXLAN_HAVE_SSSE3_PATH
  ConvertRawImageWith(BestPath(), raw, device);
#else
  ConvertRawImageScalar(raw, device);
#endif
}

}  // namespace vexlan
