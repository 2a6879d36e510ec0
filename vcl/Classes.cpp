#include "Classes.h"

#include <algorithm>

#include "SysUtils.h"

namespace vcl {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->Insert(this);
}

TComponent::~TComponent() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
  if (owner_) owner_->Remove(this);
}

void TComponent::Remove(TComponent* component) {
  components_.erase(std::remove(components_.begin(), components_.end(), component), components_.end());
}

TComponent* TComponent::FindComponent(const String& name) const {
  for (TComponent* c : components_)
    if (c->Name() == name) return c;
  return nullptr;
}

// ---- TResourceStream

TResourceStream::TResourceStream(HINSTANCE instance, const String& name, const wchar_t* type) : name_(name) {
  HRSRC found = name.empty() ? nullptr : FindResourceW(instance, name.c_str(), type);
  if (!found) RaiseLastOSError(L"Resource " + name + L" not found");
  HGLOBAL loaded = LoadResource(instance, found);
  data_ = loaded ? LockResource(loaded) : nullptr;
  if (!data_) RaiseLastOSError(L"Resource " + name + L" cannot be loaded");
  size_ = SizeofResource(instance, found);
}

void TResourceStream::SaveToFile(const String& fileName) const {
  HANDLE file = CreateFileW(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) RaiseLastOSError(L"Cannot create file \"" + fileName + L"\"");
  const char* next = static_cast<const char*>(data_);
  size_t left = size_;
  while (left > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, next, chunk, &written, nullptr) || written == 0) {
      DWORD code = GetLastError();
      CloseHandle(file);
      SetLastError(code);
      RaiseLastOSError(L"Cannot write file \"" + fileName + L"\"");
    }
    next += written;
    left -= written;
  }
  if (!CloseHandle(file)) RaiseLastOSError(L"Cannot write file \"" + fileName + L"\"");
}

}  // namespace vcl
