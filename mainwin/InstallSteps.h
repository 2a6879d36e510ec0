// What the installation runs: the TV address check and the eleven command lines with their
// progress increments and logs.
#pragma once

#include "System.h"

// A dotted-quad IPv4 address and nothing else: four decimal numbers 0 to 255 without leading
// zeros. The address goes into a cmd.exe command line, so nothing looser may pass.
bool IsTvAddress(const vcl::String& text);

constexpr int kInstallStepCount = 11;
// How far the progress bar moves after each step; with the start at 2 the bar ends at 100.
extern const int kInstallIncrements[kInstallStepCount];

struct TInstallSettings {
  vcl::String address;  // the TV's address as typed
  vcl::String tmpDir;   // the upload folder on the TV for the chosen series
  vcl::String wgtName;
  vcl::String appId;
};

// The command line of step 0 to 10, run through cmd.exe in the current directory.
vcl::String InstallCommandLine(int step, const TInstallSettings& settings);

// The step logs in the folder "doLog", written by the command interpreter's redirections.
extern const wchar_t* const kStepLogs[7];
