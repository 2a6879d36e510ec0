#include "InstallSteps.h"

using namespace vcl;

bool IsTvAddress(const String& text) {
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (pos >= text.size() || text[pos++] != L'.')) return false;
    size_t start = pos;
    int value = 0;
    while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9' && pos - start < 3)
      value = value * 10 + (text[pos++] - L'0');
    size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == L'0')) return false;
  }
  return pos == text.size();
}

const int kInstallIncrements[kInstallStepCount] = {4, 12, 4, 5, 12, 9, 12, 12, 9, 9, 10};

const wchar_t* const kStepLogs[7] = {L"doLog\\step1.txt", L"doLog\\step2.txt", L"doLog\\step3.txt", L"doLog\\step4.txt",
                                     L"doLog\\step5.txt", L"doLog\\step6.txt", L"doLog\\step7.txt"};

String InstallCommandLine(int step, const TInstallSettings& s) {
  const String iu = L"cmd.exe /c \"iu.exe ";
  const String package = s.wgtName + L".wgt";
  const String remote = s.tmpDir + L"/" + package;
  auto into = [](int log) { return L" > " + String(kStepLogs[log]) + L"\""; };
  switch (step) {
    case 0: return iu + L"kill-server\"";
    case 1: return iu + L"connect " + s.address + L":26101" + into(0);
    case 2: return iu + L"devices" + into(1);
    case 3: return iu + L"shell 0 getappinstallpath" + into(2);
    case 4: return iu + L"shell 0 vd_appuninstall " + s.appId + L"; echo cmd_ret:$?;" + into(3);
    case 5: return iu + L"shell 0 mkdir " + s.tmpDir + L"\"";
    case 6: return iu + L"push " + package + L" " + remote + into(4);
    case 7: return iu + L"shell 0 vd_appinstall " + s.appId + L" " + remote + L"; echo cmd_ret:$?;" + into(5);
    case 8: return iu + L"shell 0 rmfile " + remote + L"\"";
    case 9: return iu + L"shell 0 applist" + into(6);
    case 10: return iu + L"kill-server\"";
    default: return String();
  }
}
