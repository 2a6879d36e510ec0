#include "TempFolder.h"

#include <windows.h>

#include <shellapi.h>

TempFolder::TempFolder(const std::wstring& name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  path_ = std::wstring(dir) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(GetTickCount64());
  CreateDirectoryW(path_.c_str(), nullptr);
  wchar_t cwd[MAX_PATH];
  previous_.assign(cwd, GetCurrentDirectoryW(MAX_PATH, cwd));
  SetCurrentDirectoryW(path_.c_str());
}

TempFolder::~TempFolder() {
  SetCurrentDirectoryW(previous_.c_str());
  std::wstring from = path_ + L'\0';  // the shell wants a list ending in two NULs
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  SHFileOperationW(&op);
}

long long FileSize(const std::wstring& name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void WriteFileBytes(const std::wstring& name, const std::string& bytes) {
  HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}
