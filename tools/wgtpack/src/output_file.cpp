#include "output_file.h"

#include "error.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wgtpack {

void writeFileAtomically(const std::string& path, std::span<const std::uint8_t> data) {
  auto fail = [&](const std::string& step, int err) {
    return Error("cannot write output '" + path + "': " + step + std::strerror(err));
  };
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) throw Error("cannot write output '" + path + "': the path names a directory");

  // Only a regular file is ever replaced: a device, FIFO, socket or link at the output path
  // stays what it is, and nothing is made beside it.
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    throw Error("cannot write output '" + path +
                "': " + (S_ISDIR(st.st_mode) ? std::string(std::strerror(EISDIR)) : "not a regular file"));

  std::string tmp = dir + "/." + base + ".tmp-XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) throw fail("", errno);

  int err = 0;
  std::string step;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      step = "while writing: ";
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // mkstemp makes the file 0600; a package is an ordinary file (0666 less the umask).
  if (!err) {
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0 || fsync(fd) != 0) {
      err = errno;
      step = "while finishing: ";
    }
  }
  if (close(fd) != 0 && !err) {
    err = errno;
    step = "while closing: ";
  }
  if (!err && rename(tmp.c_str(), path.c_str()) != 0) {
    err = errno;
    step = "";
  }
  if (err) {
    unlink(tmp.c_str());
    throw fail(step, err);
  }
}

}  // namespace wgtpack
