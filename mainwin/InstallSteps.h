// What the installation runs and how its outcome is read: the TV address check, the eleven
// command lines with their progress increments, and the reading of the install step's log.
#pragma once

#include <string>

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

// The step logs in the folder "doLog"; the install command's output lands in the sixth.
extern const wchar_t* const kStepLogs[7];
constexpr int kInstallLog = 5;

// Whether the install command's output (the bytes of its log) shows the TV installing appId:
// its "install completed" line and no "install failed" or "download failed" line. The TV
// prints cmd_ret:0 after a failed install too, so that line proves nothing.
bool InstallSucceeded(const std::string& installLog, const std::string& appId);
