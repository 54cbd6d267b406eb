#include "screenshot.h"

#include <ole2.h>  // PROPID, which gdiplus.h needs
#include <gdiplus.h>

#include <vector>

namespace testsupport {

namespace {

bool PngEncoder(CLSID* clsid) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, encoders) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i)
    if (std::wstring(encoders[i].MimeType) == L"image/png") {
      *clsid = encoders[i].Clsid;
      return true;
    }
  return false;
}

std::string ScreenshotFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.rfind('\\') + 1) + "screenshots";
}

}  // namespace

std::string SaveScreenshot(HWND window, const std::string& name) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  RECT rect;
  if (!GetWindowRect(window, &rect)) return {};
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  // From the window's own surface: what was painted last may not have
  // reached the X server's screen yet.
  HDC source = GetWindowDC(window);
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(window, source);

  const std::string folder = ScreenshotFolder();
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string path = folder + "\\" + name + ".png";
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  bool saved = false;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
    CLSID png;
    if (PngEncoder(&png)) {
      Gdiplus::Bitmap image(bitmap, nullptr);
      const std::wstring widePath(path.begin(), path.end());
      saved = image.Save(widePath.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(token);
  }
  DeleteObject(bitmap);
  return saved ? path : std::string();
}

}  // namespace testsupport
