// Reads the running program's window as another program on the same desktop
// can, for the end-to-end test:
//   probe text N    the text of control N, UTF-8
//   probe tab       the index of the chosen tab
//   probe point N   the middle of control N, in screen coordinates
//   probe shown N   1 when control N is visible, else 0
// Exit code 1 while there is no such window or control, 2 for a bad command.
#include <windows.h>
// <commctrl.h> needs <windows.h> before it.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/window/win32_window.hpp"

namespace {

void printUtf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  HWND frame = FindWindowW(L"#32770", L"Quorvel 1.1");
  if (frame == nullptr) return 1;
  if (command == "tab") {
    HWND sheet = GetDlgItem(frame, quorvel::Win32Window::itemId(1));
    if (sheet == nullptr) return 1;
    std::printf("%d\n", static_cast<int>(SendMessageW(sheet, TCM_GETCURSEL, 0, 0)));
    return 0;
  }
  if (argc < 3) return 2;
  HWND control = GetDlgItem(frame, quorvel::Win32Window::itemId(std::atoi(argv[2])));
  if (control == nullptr) return 1;
  if (command == "text") {
    wchar_t buffer[512] = {};
    SendMessageW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer));
    printUtf8(buffer);
  } else if (command == "point") {
    RECT r;
    GetWindowRect(control, &r);
    std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  } else if (command == "shown") {
    std::printf("%d\n", IsWindowVisible(control) ? 1 : 0);
  } else {
    return 2;
  }
  return 0;
}
