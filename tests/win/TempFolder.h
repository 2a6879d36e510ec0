// A fresh folder under the system's temporary folder, made the current directory for the life
// of the object and removed with everything in it afterwards.
#pragma once

#include <string>

class TempFolder {
 public:
  // name: the folder's name; non-ASCII names test the installer's UTF-16 paths.
  explicit TempFolder(const std::wstring& name = L"velmora-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
  std::wstring previous_;
};

// The size of a file in bytes, or -1 when there is none.
long long FileSize(const std::wstring& name);
void WriteFileBytes(const std::wstring& name, const std::string& bytes);
