// Links into the real installer a network stack whose address enumeration fails: on every call
// (PROBE_FAIL_FROM 1: the creation handler fails) or from the second call on (PROBE_FAIL_FROM 2:
// the first refresh fails).
#include "IdStack.h"

namespace {

class FailingStack : public vcl::TIdStack {
 public:
  void GetLocalAddressList(vcl::TIdStackLocalAddressList& list) override {
    if (++calls >= PROBE_FAIL_FROM) throw vcl::Exception(L"Адаптеры недоступны");
    list.Add(vcl::TIdIPVersion::Id_IPv4, L"192.0.2.44");
  }
  static inline int calls = 0;
};

const bool installed = [] {
  vcl::TIdStack::SetStackFactory([] { return std::make_unique<FailingStack>(); });
  return true;
}();

}  // namespace
