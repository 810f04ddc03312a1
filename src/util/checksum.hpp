#pragma once
// Checksums of input files, so that a result file can name exactly the data
// it came from.

#include <string>
#include <string_view>

namespace kelvora {

// The SHA-256 digest of `bytes` as 64 lower-case hexadecimal digits
// (FIPS 180-4, computed by OpenSSL's libcrypto).
std::string sha256_hex(std::string_view bytes);

}  // namespace kelvora
