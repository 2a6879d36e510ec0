// The C++ library's default terminate handler names the exception's type, which links the name
// demangler and the printf family into every program (about 50 KB). Defining the handler under
// the library's own name keeps the library's copy out of the link; this one prints what() and
// aborts, as the library's does.
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  static bool terminating = false;
  if (terminating) {
    std::fputs("terminate called recursively\n", stderr);
    std::abort();
  }
  terminating = true;
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      std::fputs("terminate called after an exception: ", stderr);
      std::fputs(e.what(), stderr);
      std::fputs("\n", stderr);
    } catch (...) {
      std::fputs("terminate called after an exception of unknown type\n", stderr);
    }
  } else {
    std::fputs("terminate called without an active exception\n", stderr);
  }
  std::abort();
}

}  // namespace __gnu_cxx
