// The network stack's view of the PC's own addresses: a shared stack object, counted by its
// users, that fills a list of local addresses with their IP version and text.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "System.h"

namespace vcl {

enum class TIdIPVersion { Id_IPv4, Id_IPv6 };

class TIdStackLocalAddress {
 public:
  TIdStackLocalAddress(TIdIPVersion version, String address) : version_(version), address_(std::move(address)) {}
  TIdIPVersion IPVersion() const { return version_; }
  const String& IPAddress() const { return address_; }

 private:
  TIdIPVersion version_;
  String address_;
};

class TIdStackLocalAddressList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const TIdStackLocalAddress& GetAddress(int index) const { return items_.at(static_cast<size_t>(index)); }
  void Add(TIdIPVersion version, String address) { items_.emplace_back(version, std::move(address)); }

 private:
  std::vector<TIdStackLocalAddress> items_;
};

class TIdStack {
 public:
  virtual ~TIdStack() = default;
  // Appends one entry per local address, in the system's order.
  virtual void GetLocalAddressList(TIdStackLocalAddressList& list) = 0;

  // The first user creates GStack, the last one frees it.
  static void IncUsage();
  static void DecUsage();

  // Which stack IncUsage creates; the Windows stack unless replaced (tests use fakes).
  using Factory = std::function<std::unique_ptr<TIdStack>()>;
  static void SetStackFactory(Factory factory);
};

extern TIdStack* GStack;

// The stack over the Windows adapter list.
std::unique_ptr<TIdStack> NewWindowsStack();

}  // namespace vcl
