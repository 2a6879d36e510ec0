// Files and system errors: the few file operations the installer needs, by UTF-16 name relative
// to the process's current directory, and the system's own words for an error code.
#pragma once

#include <windows.h>  // before our names: DeleteFile is a macro there, applied alike everywhere

#include <string>

#include "System.h"

namespace vcl {

// The system's message for an error code (GetLastError), without the trailing line break.
String SysErrorMessage(DWORD code);

// Throws Exception: what failed, then the system's message for the last error.
[[noreturn]] void RaiseLastOSError(const String& what);

bool FileExists(const String& name);
// Deletes the file; the result tells whether it is gone. Never throws.
bool DeleteFile(const String& name);
// The file's first bytes, at most limit of them; empty when it cannot be read. Never throws.
std::string ReadFileHead(const String& name, size_t limit);
// Creates one folder; the result tells whether it was created. Never throws.
bool CreateDir(const String& name);

}  // namespace vcl
