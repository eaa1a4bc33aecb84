// Renders the native progress window at each stage of a run and saves one 24-bit BMP per
// stage into the folder given as the only argument (scripts/screenshots-windows turns them into
// PNG files). Needs a desktop: under Wine, an X server.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "splash_stages.h"
#include "ui_win32/win32_splash_window.h"

namespace {

void dispatchPendingMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0) ::DispatchMessageW(&message);
}

// The window's pixels as the screen shows them, bottom row first as BMP stores them.
bool saveWindow(HWND window, const std::string& path) {
  RECT box;
  ::GetWindowRect(window, &box);
  const int width = box.right - box.left, height = box.bottom - box.top;
  BITMAPINFOHEADER header{sizeof header, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const int stride = (width * 3 + 3) & ~3;
  header.biSizeImage = static_cast<DWORD>(stride * height);
  std::vector<char> pixels(header.biSizeImage);
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
  ::SelectObject(memory, previous);
  auto* info = reinterpret_cast<BITMAPINFO*>(&header);
  const bool read = ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), info,
                                DIB_RGB_COLORS) == height;
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  const BITMAPFILEHEADER file{
      0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof header + header.biSizeImage), 0,
      0, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof header)};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  return read && out.good();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 ||
      !(::CreateDirectoryA(argv[1], nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS)) {
    std::fprintf(stderr, "usage: %s <output folder that can be made>\n", argv[0]);
    return 2;
  }
  quillfen::Win32SplashWindow window([](HWND) { return false; });
  window.load();
  window.setProgressMin(1);
  window.setProgressMax(12);
  window.show();
  for (const splash_stages::Stage& stage : splash_stages::kStages) {
    splash_stages::enter(window, stage);
    ::RedrawWindow(window.form()->window(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    dispatchPendingMessages();
    ::GdiFlush();
    const std::string path = std::string(argv[1]) + "\\" + stage.file + ".bmp";
    if (!saveWindow(window.form()->window(), path)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
