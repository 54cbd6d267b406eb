#include "screenshot.h"

#include <ole2.h>  // PROPID, which gdiplus.h needs
#include <gdiplus.h>

#include <vector>

#include "win32/unique_handle.h"

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

}  // namespace

bool SaveWindowPng(HWND window, const std::wstring& path) {
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  RECT rect;
  if (!::GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  // From the window's own surface: what was painted last may not have
  // reached the X server's screen yet, and other windows may cover it there.
  HDC source = ::GetWindowDC(window);
  HDC memory = ::CreateCompatibleDC(source);
  win32::UniqueBitmap bitmap(::CreateCompatibleBitmap(source, width, height));
  HGDIOBJ old = ::SelectObject(memory, bitmap.get());
  ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(window, source);

  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  bool saved = false;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
    CLSID png;
    if (PngEncoder(&png)) {
      Gdiplus::Bitmap image(bitmap.get(), nullptr);
      saved = image.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    Gdiplus::GdiplusShutdown(token);
  }
  return saved;
}

std::string SaveScreenshot(HWND window, const std::string& name) {
  char program[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string folder = program;
  folder = folder.substr(0, folder.rfind('\\') + 1) + "screenshots";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  const std::string path = folder + "\\" + name + ".png";
  return SaveWindowPng(window, std::wstring(path.begin(), path.end())) ? path : std::string();
}

}  // namespace testsupport
