// PBKDF2 password hashes through OpenSSL's libcrypto, plus verification of the old salted SHA-256
// form so that logins stored by earlier versions keep working until they are rehashed.
#include "server/storage/password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace tabsrv::storage {

namespace {

constexpr uint8_t kMagic[3] = {'P', 'B', '2'};
constexpr size_t kSaltSize = 16;
constexpr size_t kKeySize = 32;
constexpr size_t kHeaderSize = sizeof(kMagic) + 4;
constexpr size_t kStoredSize = kHeaderSize + kSaltSize + kKeySize;
constexpr size_t kLegacySize = 16 + 32;
// No stored hash asks for more work than this (a corrupted row must not hang a login).
constexpr uint32_t kMaxIterations = 10'000'000;

bool isCurrentForm(const std::vector<uint8_t>& stored) {
  return stored.size() == kStoredSize && std::equal(kMagic, kMagic + 3, stored.begin());
}

uint32_t iterationsOf(const std::vector<uint8_t>& stored) {
  return (uint32_t{stored[3]} << 24) | (uint32_t{stored[4]} << 16) | (uint32_t{stored[5]} << 8) |
         uint32_t{stored[6]};
}

std::array<uint8_t, kKeySize> derive(std::string_view password, const uint8_t* salt, uint32_t iterations) {
  std::array<uint8_t, kKeySize> key{};
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, kSaltSize,
                        static_cast<int>(iterations), EVP_sha256(), kKeySize, key.data()) != 1)
    throw std::runtime_error("PBKDF2 failed");
  return key;
}

std::array<uint8_t, 32> legacyDigest(const uint8_t* salt, std::string_view password) {
  std::string buf(reinterpret_cast<const char*>(salt), 16);
  buf.append(password);
  std::array<uint8_t, 32> d{};
  SHA256(reinterpret_cast<const unsigned char*>(buf.data()), buf.size(), d.data());
  OPENSSL_cleanse(buf.data(), buf.size());
  return d;
}

// Logins are frequent (every connection of the desktop program and of the tests), and PBKDF2 is
// slow on purpose. A successful verification is remembered as a keyed digest of the password
// under a key that lives only in this process, per stored hash: the same password against the same
// stored hash then verifies quickly. A wrong password never hits this memory, so guessing stays
// as slow as PBKDF2 makes it.
class VerifiedCache {
 public:
  VerifiedCache() {
    if (RAND_bytes(key_.data(), static_cast<int>(key_.size())) != 1)
      throw std::runtime_error("RAND_bytes failed");
  }
  bool contains(const std::vector<uint8_t>& stored, std::string_view password) {
    auto tag = tagOf(password);
    std::lock_guard lock(mutex_);
    auto it = entries_.find(keyOf(stored));
    return it != entries_.end() && CRYPTO_memcmp(it->second.data(), tag.data(), tag.size()) == 0;
  }
  void remember(const std::vector<uint8_t>& stored, std::string_view password) {
    auto tag = tagOf(password);
    std::lock_guard lock(mutex_);
    if (entries_.size() >= 4096) entries_.clear();
    entries_[keyOf(stored)] = tag;
  }

 private:
  static std::string keyOf(const std::vector<uint8_t>& stored) {
    return std::string(reinterpret_cast<const char*>(stored.data()), stored.size());
  }
  std::array<uint8_t, 32> tagOf(std::string_view password) const {
    std::array<uint8_t, 32> tag{};
    // One PBKDF2 round is HMAC-SHA256 keyed with the password over the process key.
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), key_.data(), key_.size(), 1,
                      EVP_sha256(), tag.size(), tag.data());
    return tag;
  }
  std::array<uint8_t, 32> key_{};
  std::mutex mutex_;
  std::unordered_map<std::string, std::array<uint8_t, 32>> entries_;
};

VerifiedCache& verifiedCache() {
  static VerifiedCache cache;
  return cache;
}

}  // namespace

std::vector<uint8_t> hashPassword(std::string_view password) {
  std::vector<uint8_t> out(kMagic, kMagic + 3);
  uint32_t n = kPasswordIterations;
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
  std::array<uint8_t, kSaltSize> salt{};
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
    throw std::runtime_error("RAND_bytes failed");
  out.insert(out.end(), salt.begin(), salt.end());
  auto key = derive(password, salt.data(), n);
  out.insert(out.end(), key.begin(), key.end());
  verifiedCache().remember(out, password);
  return out;
}

bool verifyPassword(const std::vector<uint8_t>& stored, std::string_view password) {
  if (isCurrentForm(stored)) {
    uint32_t n = iterationsOf(stored);
    if (n == 0 || n > kMaxIterations) return false;
    if (verifiedCache().contains(stored, password)) return true;
    auto key = derive(password, stored.data() + kHeaderSize, n);
    bool ok = CRYPTO_memcmp(key.data(), stored.data() + kHeaderSize + kSaltSize, kKeySize) == 0;
    if (ok) verifiedCache().remember(stored, password);
    return ok;
  }
  if (stored.size() == kLegacySize) {
    auto d = legacyDigest(stored.data(), password);
    return CRYPTO_memcmp(d.data(), stored.data() + 16, 32) == 0;
  }
  return false;
}

bool needsRehash(const std::vector<uint8_t>& stored) {
  if (stored.size() == kLegacySize) return true;
  return isCurrentForm(stored) && iterationsOf(stored) < kPasswordIterations;
}

}  // namespace tabsrv::storage
