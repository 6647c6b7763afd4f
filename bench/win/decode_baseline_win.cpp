#include <windows.h>
// clang-format off
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <string>

#include "bench/bench_support.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

void vexlan::bench::DecodeWithPlatform(const std::string& path) {
  static ULONG_PTR token = [] {
    ULONG_PTR started = 0;
    GdiplusStartupInput input;
    GdiplusStartup(&started, &input, nullptr);
    return started;
  }();
  (void)token;
  const std::wstring wide(path.begin(), path.end());
  GpBitmap* bitmap = nullptr;
  if (GdipCreateBitmapFromFile(wide.c_str(), &bitmap) != Ok) return;
  UINT width = 0, height = 0;
  GdipGetImageWidth(bitmap, &width);
  GdipGetImageHeight(bitmap, &height);
  Rect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  BitmapData data;
  if (GdipBitmapLockBits(bitmap, &whole, ImageLockModeRead, PixelFormat24bppRGB, &data) == Ok)
    GdipBitmapUnlockBits(bitmap, &data);
  GdipDisposeImage(bitmap);
}
