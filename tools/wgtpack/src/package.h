// The Velmora widget package: which files, in which order, with which settings.
#pragma once

#include "bytes.h"
#include "credentials.h"
#include "zip_writer.h"

#include <map>
#include <string>
#include <vector>

namespace wgtpack {

// The build settings written into the sources in place of @NAME@ placeholders.
struct Settings {
  std::string portalUrl;    // @PORTAL_URL@: absolute http(s) URL ending in "/"
  std::string widgetHost;   // @WIDGET_HOST@: host of the widget id "http://HOST/Velmora"
  std::string authorHref;   // @AUTHOR_HREF@: the service's web site
  std::string authorEmail;  // @AUTHOR_EMAIL@: the service's support address
};

// Throws Error naming the setting and what it must look like.
void validate(const Settings& s);

// The placeholder map of the settings ("PORTAL_URL" -> value, ...).
std::map<std::string, std::string> placeholders(const Settings& s);

// Replaces every @NAME@ (NAME of [A-Z0-9_], starting with a letter) in one pass; an unknown
// name is an error naming `file`. Values are not scanned again.
std::string substitute(const std::string& text, const std::map<std::string, std::string>& values,
                       const std::string& file);

// "YYYY-MM-DDTHH:MM:SS" (even seconds, 1980..2107) to a ZIP time; throws Error otherwise.
DosTime parseDosTime(const std::string& text);

// A SOURCE_DATE_EPOCH value (decimal seconds since 1970, UTC) to a ZIP time.
DosTime dosTimeFromEpoch(const std::string& epoch);

// Source files in package order; "css/" is a directory entry.
const std::vector<std::string>& packageEntries();

// Reads the sources from `srcDir`, substitutes the settings, signs with both signers and
// returns the archive bytes. Throws Error on any bad input.
Bytes buildPackage(const std::string& srcDir, const Settings& settings, const Credentials& author,
                   const Credentials& distributor, DosTime when);

}  // namespace wgtpack
