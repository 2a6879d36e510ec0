// The installation's operations on the PC: running one console command while the window stays
// responsive, and staging the payloads carried as resources of the executable.
#pragma once

#include "System.h"

// Runs the command line hidden (no console window) and returns when it has ended, dispatching
// the window's messages meanwhile; returns early once the application is terminating. Neither
// a failure to start nor the command's outcome is reported.
void RunAndWait(const vcl::String& commandLine);

// Writes the RCDATA resource of this executable to the file, replacing it. Throws Exception
// naming the resource or the file, with the system's reason.
void ExtractResource(const vcl::String& fileName, const vcl::String& resourceName);

// Deletes the file if it is there; stays silent whatever happens.
void DeleteIfExists(const vcl::String& fileName);
