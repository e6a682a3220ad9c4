#ifndef VISOR_TOOLS_SHA256_H_
#define VISOR_TOOLS_SHA256_H_

// SHA-256 (FIPS 180-4) over a stream of bytes, so that a whole job can be
// compared with a pinned digest without being kept or written anywhere.

#include <cstddef>
#include <cstdint>
#include <string>

struct Sha256 {
  uint32_t state[8];
  uint64_t bytes;     // hashed so far
  uint8_t block[64];  // the block being filled
  size_t block_used;
};

void sha256_init(Sha256* h);
void sha256_update(Sha256* h, const void* data, size_t length);
// Ends the stream; the digest as 64 lower-case hex digits, as sha256sum
// prints it.
std::string sha256_hex(Sha256* h);

#endif  // VISOR_TOOLS_SHA256_H_
