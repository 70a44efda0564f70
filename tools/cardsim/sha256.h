// SHA-256 (FIPS 180-4), used to fingerprint the images the simulated card receives so that a
// script can compare them with the source files through sha256sum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class cSha256 {
  public:
    cSha256();
    void Update(const uint8_t* bytes, size_t count);
    // Finishes the digest and returns it as 64 lower-case hexadecimal digits.
    std::string HexDigest();

  private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_pending{};
    size_t m_pendingCount = 0;
    uint64_t m_totalBytes = 0;
};
