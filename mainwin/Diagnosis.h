// Why an installation failed, read from the step logs the commands wrote and, when the TV could
// not be reached through the bridge, from what the TV's device-information service says.
#pragma once

#include <string>
#include <vector>

#include "System.h"

enum class TCause {
  None,           // installed: the TV completed the install and keeps the widget
  NotConnected,   // the bridge found no TV; the device-information service tells more
  TvUnreachable,  // nothing answers at the address
  DeveloperModeOff,
  OtherHostPc,   // the TV's Host PC IP is another PC's
  NotInEffect,   // developer mode on for this PC, yet no connection: restart, firewall
  NoConnection,  // no connection, and the TV does not say why
  Locked,
  WrongSeries,     // the upload folder of the chosen series is missing or not writable
  AuthorMismatch,  // -11: a copy signed by someone else is installed
  ClockWrong,      // <-7>: the signature is not valid yet by the TV's clock
  PackageDamaged,  // other signature codes
  NoSpace,         // download failed[116]
  NotKept,         // install completed, yet the app list lacks the widget
  Unknown,
};

// The outputs of the commands that tell how an installation went, as the bytes of their logs.
struct TStepLogs {
  std::string connect;  // step1.txt
  std::string devices;  // step2.txt
  std::string push;     // step5.txt
  std::string install;  // step6.txt
  std::string applist;  // step7.txt
};

// The outcome the logs show. NotConnected means the TV must be asked through its
// device-information service (DiagnoseNotConnected).
TCause Diagnose(const TStepLogs& logs, const std::string& appId);

// What the TV's device-information service answered on port 8001.
struct TTvInfo {
  enum class TKind { NoAnswer, Unknown, Answered } kind = TKind::NoAnswer;
  bool developerMode = false;
  vcl::String developerIp;
  vcl::String localAddress;  // this PC's address on its way to the TV
};

// The cause of a failed connection by the TV's own account; pcAddresses are this PC's IPv4
// addresses.
TCause DiagnoseNotConnected(const TTvInfo& info, const std::vector<vcl::String>& pcAddresses);
