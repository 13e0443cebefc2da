// SHA-256 (FIPS 180-4) for the salted password hashes kept in syslogins.password.
// Internal to tabsrv_storage.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tabsrv::storage {

// The 32-byte digest of `data`.
std::array<uint8_t, 32> sha256(const uint8_t* data, size_t size);

// syslogins.password for `password`: a 16-byte random salt followed by SHA-256(salt || password).
std::vector<uint8_t> hashPassword(std::string_view password);

// True when `stored` (as hashPassword made it) matches `password`; constant-time comparison.
bool verifyPassword(const std::vector<uint8_t>& stored, std::string_view password);

}  // namespace tabsrv::storage
