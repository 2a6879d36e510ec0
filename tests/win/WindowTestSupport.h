// Helpers of the window tests: a form created as the installer creates it, over a fake list of
// local addresses, and reads of what its windows show.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "IdStack.h"
#include "MainWin.h"

using Entries = std::vector<std::pair<vcl::TIdIPVersion, std::wstring>>;

// Replaces the network stack by one that enumerates the given entries.
void UseFakeAddresses(const Entries& entries);

// The main form, constructed and through its creation event, not yet shown.
class FormFixture {
 public:
  explicit FormFixture(const Entries& addresses = {{vcl::TIdIPVersion::Id_IPv4, L"192.0.2.10"}});
  ~FormFixture();
  TmainForm& form() { return *form_; }

 private:
  TmainForm* form_;
};

std::wstring WindowText(HWND hwnd);
// The first visible top-level window of the process with this class and caption (null: any).
HWND FindVisibleWindow(DWORD pid, const wchar_t* cls, const wchar_t* caption = nullptr);
// Bounds of a window relative to its parent's client area.
RECT BoundsInParent(HWND hwnd);
