#include "IdStack.h"

namespace vcl {
namespace {

int usage = 0;
std::unique_ptr<TIdStack> stack;
TIdStack::Factory factory = NewWindowsStack;

}  // namespace

TIdStack* GStack = nullptr;

void TIdStack::IncUsage() {
    if (usage == 0) {
        stack = factory();
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

void TIdStack::SetStackFactory(Factory f) { factory = std::move(f); }

}  // namespace vcl
