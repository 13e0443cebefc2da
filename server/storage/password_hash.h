// Password hashes kept in master..syslogins.password: PBKDF2-HMAC-SHA256 from the system's
// crypto library (libcrypto) with a random 16-byte salt. Internal to tabsrv_storage.
//
// Stored form (55 bytes): "PB2", the iteration count as 4 bytes big-endian, the salt, the
// 32-byte derived key. Logins made by earlier versions of the server hold 48 bytes (a 16-byte
// salt followed by SHA-256(salt || password)); they still verify, and needsRehash() tells the
// login code to replace them after the next successful login.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tabsrv::storage {

// The iteration count new hashes get.
constexpr uint32_t kPasswordIterations = 100000;

// A new salted hash of `password`.
std::vector<uint8_t> hashPassword(std::string_view password);

// True when `stored` (either form) matches `password`; the comparison takes constant time.
// An empty or malformed `stored` matches nothing.
bool verifyPassword(const std::vector<uint8_t>& stored, std::string_view password);

// True when `stored` is the old form or uses fewer iterations than new hashes do.
bool needsRehash(const std::vector<uint8_t>& stored);

}  // namespace tabsrv::storage
