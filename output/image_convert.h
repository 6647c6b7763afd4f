// The two picture layouts: the raw image a script hands SetImage, and the device image DirectOutput takes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexlan {

inline constexpr int kImageWidth = 320;
inline constexpr int kImageHeight = 240;
inline constexpr size_t kRawHeaderBytes = 24;
inline constexpr size_t kRawImageBytes = kRawHeaderBytes + kImageWidth * kImageHeight * 4;  // 307224
inline constexpr size_t kDeviceImageBytes = kImageWidth * kImageHeight * 3;                 // 230400

// Raw: a 24-byte header (skipped), then 240 top-down rows of 320 pixels, each red, green, blue and an
// ignored byte. Device: 240 bottom-up rows of 320 pixels, each blue, green, red. `raw` must hold
// kRawImageBytes; every byte of `device` (kDeviceImageBytes) is written.
void ConvertRawImage(const uint8_t* raw, uint8_t* device);
// The portable loop alone, for comparison.
void ConvertRawImageScalar(const uint8_t* raw, uint8_t* device);

// The vector paths, each used only where the processor has it (checked at run time).
enum class ConversionPath { kAvx512Vbmi, kAvx2, kSsse3, kBytes };
// Converts with `path`; false, writing nothing, when this processor lacks it.
bool ConvertRawImageWith(ConversionPath path, const uint8_t* raw, uint8_t* device);

}  // namespace vexlan
