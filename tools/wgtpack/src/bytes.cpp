#include "bytes.h"

#include "error.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace wgtpack {

std::string opensslError()
{
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

Bytes readFile(const std::string& path, std::string_view what)
{
    auto fail = [&](int err) {
        return Error("cannot read " + std::string(what) + " '" + path + "': " + std::strerror(err));
    };
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        throw fail(errno);
    if (S_ISDIR(st.st_mode))
        throw fail(EISDIR);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw fail(errno ? errno : EIO);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw fail(errno ? errno : EIO);
    return data;
}

Bytes toBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes sha256(std::span<const std::uint8_t> data)
{
    Bytes digest(32);
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &len, EVP_sha256(), nullptr) != 1 || len != 32)
        throw Error("SHA-256 failed: " + opensslError());
    return digest;
}

std::string base64(std::span<const std::uint8_t> data)
{
    std::string out(4 * ((data.size() + 2) / 3), '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(), static_cast<int>(data.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string base64Wrapped76(std::span<const std::uint8_t> data)
{
    const std::string flat = base64(data);
    std::string out;
    for (std::size_t pos = 0; pos < flat.size(); pos += 76) {
        if (pos != 0)
            out += '\n';
        out += flat.substr(pos, 76);
    }
    return out;
}

} // namespace wgtpack
