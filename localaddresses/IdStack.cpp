#include "IdStack.h"

namespace vcl {
namespace {

int usage = 0;
std::unique_ptr<TIdStack> stack;

// A function-local static, so that a replacement installed during static initialisation of
// another module cannot be overwritten by this module's own initialisation.
TIdStack::Factory& StackFactory() {
  static TIdStack::Factory factory = NewWindowsStack;
  return factory;
}

}  // namespace

TIdStack* GStack = nullptr;

void TIdStack::IncUsage() {
  if (usage == 0) {
    stack = StackFactory()();
    GStack = stack.get();
  }
  ++usage;
}

void TIdStack::DecUsage() {
  if (usage == 0) return;
  if (--usage == 0) {
    GStack = nullptr;
    stack.reset();
  }
}

void TIdStack::SetStackFactory(Factory f) { StackFactory() = std::move(f); }

}  // namespace vcl
