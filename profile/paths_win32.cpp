#include <shlobj.h>
#include <windows.h>

#include <string>

#include "profile/paths.hpp"

namespace quorvel {
namespace {

bool isBareName(std::string_view name) {
  return name.find_first_of("\\/:") == std::string_view::npos;
}

bool isAbsolute(const std::wstring& path) {
  return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
         (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') &&
          (path[1] == L'\\' || path[1] == L'/'));
}

// An absolute folder named by the environment, which tests and administrators
// may redirect; else the known folder of the user.
std::filesystem::path userFolder(const wchar_t* variable, REFKNOWNFOLDERID known) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetEnvironmentVariableW(variable, buffer, MAX_PATH * 2);
  if (n > 0 && n < MAX_PATH * 2 && isAbsolute(std::wstring(buffer, n)))
    return std::filesystem::path(std::wstring(buffer, n));
  PWSTR path = nullptr;
  std::filesystem::path result;
  if (SUCCEEDED(SHGetKnownFolderPath(known, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr)
    result = std::filesystem::path(std::wstring(path));
  CoTaskMemFree(path);
  return result;
}

std::wstring windowsFolder() {
  wchar_t buffer[MAX_PATH];
  const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring(L"C:\\Windows");
}

bool isFile(const std::filesystem::path& p) {
  const DWORD attributes = GetFileAttributesW(p.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::filesystem::path nativeProfilePath(std::string_view name) {
  // Windows-1252 whatever the system's code page: the names in profile files
  // and in the configuration are those bytes.
  std::wstring wide;
  if (!name.empty()) {
    const int n =
        MultiByteToWideChar(1252, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(1252, 0, name.data(), static_cast<int>(name.size()), wide.data(), n);
  }
  return std::filesystem::path(std::move(wide));
}

std::filesystem::path configDirectory() {
  return userFolder(L"APPDATA", FOLDERID_RoamingAppData) / L"Quorvel";
}

std::filesystem::path resolveProfileName(std::string_view name) {
  if (isBareName(name)) return configDirectory() / nativeProfilePath(name);
  return nativeProfilePath(name);
}

std::filesystem::path resolveProfileNameForReading(std::string_view name) {
  std::filesystem::path own = resolveProfileName(name);
  if (!isBareName(name) || isFile(own)) return own;
  // Where the Windows profile functions keep a bare name: the Windows folder,
  // or, for a program without the right to write there, the user's virtualised
  // copy of that folder (the Windows folder without its drive, under VirtualStore).
  const std::wstring windows = windowsFolder();
  const std::filesystem::path file = nativeProfilePath(name);
  const std::filesystem::path local = userFolder(L"LOCALAPPDATA", FOLDERID_LocalAppData);
  if (!local.empty() && windows.size() > 3 && windows[1] == L':') {
    std::filesystem::path virtualised =
        local / L"VirtualStore" / std::filesystem::path(windows.substr(3)) / file;
    if (isFile(virtualised)) return virtualised;
  }
  std::filesystem::path shared = std::filesystem::path(windows) / file;
  if (isFile(shared)) return shared;
  return own;
}

}  // namespace quorvel
