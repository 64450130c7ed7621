#include "tests/platform_win32/desktop_probe.hpp"

#include <windows.h>

#include <string>

namespace quorvel::test {

int dragSettingSeenByAnotherProcess() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command(self);
  command =
      L"\"" + command.substr(0, command.find_last_of(L"\\/") + 1) + L"drag_setting_probe.exe\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
    return -1;
  DWORD code = MAXDWORD;
  if (::WaitForSingleObject(pi.hProcess, 30'000) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  return code == MAXDWORD ? -1 : static_cast<int>(code);
}

bool setDragSetting(int on) {
  return ::SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, static_cast<UINT>(on), nullptr,
                                 SPIF_UPDATEINIFILE | SPIF_SENDCHANGE) != 0;
}

}  // namespace quorvel::test
