// The two picture layouts: the raw image a script hands SetImage, and the device image DirectOutput takes.
#pragma once

#include <cstdint>

#include "output/picture_format.h"

namespace vexlan {

// `raw` must hold kRawImageBytes; every byte of `device` (kDeviceImageBytes) is written.
void ConvertRawImage(const uint8_t* raw, uint8_t* device);
// The portable loop alone, for comparison.
void ConvertRawImageScalar(const uint8_t* raw, uint8_t* device);

// The vector paths, each used only where the processor has it (checked at run time).
enum class ConversionPath { kAvx512Vbmi, kAvx2, kSsse3, kBytes };
// Converts with `path`; false, writing nothing, when this processor lacks it.
bool ConvertRawImageWith(ConversionPath path, const uint8_t* raw, uint8_t* device);

}  // namespace vexlan
