// The signed-script file and the public-key file, as stored (little-endian):
//
//   0    12 bytes   "SIGNEDSCRIPT" (no terminator)
//   12   u32        script length L
//   16   256 bytes  signature S, a 2048-bit little-endian number
//   272  L bytes    the script
//
// "/etc/shpub" holds the 256-byte little-endian modulus N; the public
// exponent is 65537. A valid S has S^65537 mod N equal to the SHA-256
// digest of the script read as a little-endian number (no padding).
#ifndef SIGSCRIPT_SCRIPT_FORMAT_H
#define SIGSCRIPT_SCRIPT_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace script_format {

constexpr char kMagic[] = "SIGNEDSCRIPT";
constexpr size_t kMagicSize = sizeof kMagic - 1;
constexpr size_t kLengthOffset = 12;
constexpr size_t kSignatureOffset = 16;
constexpr size_t kSignatureSize = 256;
constexpr size_t kHeaderSize = kSignatureOffset + kSignatureSize;
constexpr size_t kKeySize = 256;
constexpr uint32_t kPublicExponent = 65537;
constexpr char kKeyPath[] = "/etc/shpub";

static_assert(kHeaderSize == 272, "the script starts at byte 272");

} // namespace script_format

#endif
