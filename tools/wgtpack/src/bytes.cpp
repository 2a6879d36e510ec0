#include "bytes.h"

#include "error.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wgtpack {

std::string opensslError() {
  unsigned long code = ERR_get_error();
  std::string text = "unknown OpenSSL error";
  if (code != 0) {
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    text = buf;
  }
  ERR_clear_error();
  return text;
}

Bytes readFile(const std::string& path, std::string_view what) {
  auto fail = [&](const std::string& cause) {
    return Error("cannot read " + std::string(what) + " '" + path + "': " + cause);
  };
  auto checkKind = [&](const struct stat& st) {
    if (S_ISDIR(st.st_mode)) throw fail(std::strerror(EISDIR));
    // A FIFO would block, a device could read for ever: inputs are ordinary files.
    if (!S_ISREG(st.st_mode)) throw fail("not a regular file");
    if (static_cast<std::uint64_t>(st.st_size) > kMaxInputFile)
      throw fail("larger than " + std::to_string(kMaxInputFile >> 20) + " MiB");
  };
  // Checked before opening too: opening some devices has effects of its own.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw fail(std::strerror(errno));
  checkKind(st);
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw fail(std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  if (fstat(fd, &st) != 0) throw fail(std::strerror(errno));
  checkKind(st);
  // One byte more than its size, to see a file that grows while it is read.
  Bytes data(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = read(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw fail(std::strerror(errno));
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done == data.size()) throw fail("it changed while being read");
  data.resize(done);
  return data;
}

Bytes toBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes sha256(std::span<const std::uint8_t> data) {
  Bytes digest(32);
  unsigned int len = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &len, EVP_sha256(), nullptr) != 1 || len != 32)
    throw Error("SHA-256 failed: " + opensslError());
  return digest;
}

std::string base64(std::span<const std::uint8_t> data) {
  std::string out(4 * ((data.size() + 2) / 3), '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(), static_cast<int>(data.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string base64Wrapped76(std::span<const std::uint8_t> data) {
  const std::string flat = base64(data);
  std::string out;
  for (std::size_t pos = 0; pos < flat.size(); pos += 76) {
    if (pos != 0) out += '\n';
    out += flat.substr(pos, 76);
  }
  return out;
}

}  // namespace wgtpack
