// The table of Russian and English texts of the window. Built once while the program starts,
// before any window exists, and only read afterwards.
#pragma once

#include <vector>

#include "System.h"

enum TTextPair {
  txtInstalling,
  txtLanguage,
  txtPcIp,
  txtIpNote,
  txtRefreshIp,
  txtTvSeries,
  txtInstallBtn,
  txtTvIp,
  txtInstallGroup,
  txtPrompt,
  txtDone,
  txtBadIp,
  txtManualGroup,
  txtManual,
  txtFailed,
  // Why an installation failed and what to do, shown after the failure text. %ADDRESS% stands
  // for the TV's address, %THISPC% for this PC's, %TVHOSTPC% for the PC the TV accepts and
  // %SERIES% for the other TV series.
  txtWhyTvUnreachable,
  txtWhyDeveloperModeOff,
  txtWhyOtherHostPc,
  txtWhyNotInEffect,
  txtWhyNoConnection,
  txtWhyLocked,
  txtWhyWrongSeries,
  txtWhyAuthorMismatch,
  txtWhyClockWrong,
  txtWhyPackageDamaged,
  txtWhyNoSpace,
  txtWhyNotKept,
  txtWhyUnknown,
  txtPairCount
};

// Texts lie pair after pair, each pair's Russian text directly before its English one, so the
// text of a pair in language lang (0 Russian, 1 English) is the Russian entry advanced by lang.
class TLangText {
 public:
  explicit TLangText(std::vector<vcl::String> texts) : texts_(std::move(texts)) {}
  const vcl::String& Text(TTextPair pair, int lang) const {
    return texts_.at(static_cast<size_t>(pair) * 2 + static_cast<size_t>(lang));
  }

 private:
  std::vector<vcl::String> texts_;
};

// Published only once every text is in place; lives until the process ends.
extern const TLangText* const langText;
