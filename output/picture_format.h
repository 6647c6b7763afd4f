// The one picture the panel shows, in its two layouts: the raw image a script hands SetImage (and that a
// canvas of the screen's size is, byte for byte), and the device image DirectOutput takes.
//
// Raw: a 24-byte header (skipped), then top-down rows of pixels, each red, green, blue and an ignored
// byte. Device: bottom-up rows of pixels, each blue, green, red.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexlan {

inline constexpr int kImageWidth = 320;
inline constexpr int kImageHeight = 240;
inline constexpr size_t kRawHeaderBytes = 24;
inline constexpr size_t kRawPixelBytes = 4;
inline constexpr size_t kDevicePixelBytes = 3;
inline constexpr size_t kRawRowBytes = kImageWidth * kRawPixelBytes;
inline constexpr size_t kDeviceRowBytes = kImageWidth * kDevicePixelBytes;
inline constexpr size_t kRawImageBytes = kRawHeaderBytes + kRawRowBytes * kImageHeight;  // 307224
inline constexpr size_t kDeviceImageBytes = kDeviceRowBytes * kImageHeight;              // 230400

}  // namespace vexlan
