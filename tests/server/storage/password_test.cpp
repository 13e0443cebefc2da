// Password hashes in syslogins: PBKDF2 in its stored form, the old salted SHA-256 form still
// logging in and replaced on the first successful login, malformed rows matching nothing, and
// unknown names costing what wrong passwords cost.
#include <openssl/sha.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "server/storage/catalog.h"
#include "server/storage/password_hash.h"
#include "tests/server/storage/store_fixture.h"

namespace tabsrv {
namespace {

using storage::hashPassword;
using storage::needsRehash;
using storage::verifyPassword;

// The form earlier versions of the server stored: a 16-byte salt, then SHA-256(salt || password).
Bytes legacyHash(const std::string& password, uint8_t saltByte) {
  Bytes out(16, saltByte);
  std::string buf(out.begin(), out.end());
  buf += password;
  uint8_t d[32];
  SHA256(reinterpret_cast<const unsigned char*>(buf.data()), buf.size(), d);
  out.insert(out.end(), d, d + 32);
  return out;
}

void storeHash(sqlite3* db, const std::string& login, const Bytes& hash) {
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE \"master.dbo.syslogins\" SET password = ?1 WHERE name = ?2", -1,
                               &st, nullptr),
            SQLITE_OK);
  sqlite3_bind_blob(st, 1, hash.data(), static_cast<int>(hash.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, login.c_str(), -1, SQLITE_TRANSIENT);
  ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
  sqlite3_finalize(st);
}

Bytes storedHash(sqlite3* db, const std::string& login) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT password FROM \"master.dbo.syslogins\" WHERE name = ?1", -1, &st, nullptr);
  sqlite3_bind_text(st, 1, login.c_str(), -1, SQLITE_TRANSIENT);
  Bytes out;
  if (sqlite3_step(st) == SQLITE_ROW) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 0));
    out.assign(p, p + sqlite3_column_bytes(st, 0));
  }
  sqlite3_finalize(st);
  return out;
}

TEST(PasswordHash, StoredFormIsSaltedPbkdf2) {
  Bytes a = hashPassword("secret");
  Bytes b = hashPassword("secret");
  ASSERT_EQ(a.size(), 55u);
  EXPECT_EQ(std::string(a.begin(), a.begin() + 3), "PB2");
  uint32_t iterations = (uint32_t{a[3]} << 24) | (uint32_t{a[4]} << 16) | (uint32_t{a[5]} << 8) | a[6];
  EXPECT_EQ(iterations, storage::kPasswordIterations);
  EXPECT_NE(a, b) << "equal passwords must hash differently";
  EXPECT_TRUE(verifyPassword(a, "secret"));
  EXPECT_TRUE(verifyPassword(b, "secret"));
  EXPECT_FALSE(needsRehash(a));
  for (const char* wrong : {"", "Secret", "secret ", "secre"})
    EXPECT_FALSE(verifyPassword(a, wrong)) << wrong;
  EXPECT_TRUE(verifyPassword(hashPassword(""), ""));
  EXPECT_FALSE(verifyPassword(hashPassword(""), " "));
}

TEST(PasswordHash, MalformedStoredHashesMatchNothing) {
  Bytes good = hashPassword("pw");
  Bytes zeroIterations = good;
  zeroIterations[3] = zeroIterations[4] = zeroIterations[5] = zeroIterations[6] = 0;
  Bytes hugeIterations = good;
  hugeIterations[3] = 0xff;
  Bytes flippedKey = good;
  flippedKey.back() ^= 1;
  Bytes flippedSalt = good;
  flippedSalt[8] ^= 1;
  struct Case {
    const char* what;
    Bytes stored;
  } cases[] = {
      {"empty (NULL password column)", {}},
      {"truncated", Bytes(good.begin(), good.end() - 1)},
      {"one byte longer",
       [&] {
         Bytes b = good;
         b.push_back(0);
         return b;
       }()},
      {"zero iterations", zeroIterations},
      {"absurd iteration count", hugeIterations},
      {"changed key", flippedKey},
      {"changed salt", flippedSalt},
      {"wrong magic",
       [&] {
         Bytes b = good;
         b[0] = 'X';
         return b;
       }()},
  };
  for (const auto& c : cases) EXPECT_FALSE(verifyPassword(c.stored, "pw")) << c.what;
}

TEST(PasswordHash, OldFormStillVerifies) {
  Bytes old = legacyHash("pw1", 7);
  EXPECT_TRUE(verifyPassword(old, "pw1"));
  EXPECT_FALSE(verifyPassword(old, "pw2"));
  EXPECT_FALSE(verifyPassword(legacyHash("pw1", 8), "pw2"));
  EXPECT_TRUE(needsRehash(old));
}

using Logins = test::StoreTest;

TEST_F(Logins, OldHashesLogInAndAreRehashedOnTheFirstSuccessfulLogin) {
  int32_t suid = addLogin(db(), "veteran", "unused", "master");
  storeHash(db(), "veteran", legacyHash("old secret", 3));
  storeHash(db(), "sa", legacyHash("", 9));

  // A wrong password neither logs in nor touches the stored hash.
  EXPECT_FALSE(checkLogin(db(), "veteran", "old secreT"));
  EXPECT_EQ(storedHash(db(), "veteran"), legacyHash("old secret", 3));

  EXPECT_EQ(checkLogin(db(), "veteran", "old secret"), std::optional<int32_t>(suid));
  Bytes now = storedHash(db(), "veteran");
  ASSERT_EQ(now.size(), 55u);
  EXPECT_EQ(std::string(now.begin(), now.begin() + 3), "PB2");
  EXPECT_FALSE(needsRehash(now));
  // The new hash keeps the same password and refuses others.
  EXPECT_EQ(checkLogin(db(), "veteran", "old secret"), std::optional<int32_t>(suid));
  EXPECT_FALSE(checkLogin(db(), "veteran", "old secreT"));
  EXPECT_EQ(storedHash(db(), "veteran"), now) << "a current hash is not rewritten on every login";

  // sa with the empty password, as a data directory of an earlier version holds it.
  EXPECT_EQ(checkLogin(db(), "sa", ""), std::optional<int32_t>(1));
  EXPECT_EQ(storedHash(db(), "sa").size(), 55u);
  EXPECT_FALSE(checkLogin(db(), "sa", "x"));
}

}  // namespace
}  // namespace tabsrv

namespace tabsrv {
namespace {

// The calling thread's CPU time in seconds. The check's cost is its hashing work, which CPU time
// measures whatever else the machine is doing; wall-clock time on a loaded machine does not.
double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The median CPU time of five calls, in seconds.
template <typename F>
double medianSeconds(F call) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    const double start = threadCpuSeconds();
    call();
    times.push_back(threadCpuSeconds() - start);
  }
  std::sort(times.begin(), times.end());
  return times[2];
}

TEST_F(Logins, AnUnknownNameTakesAsLongAsAWrongPassword) {
  // A name that exists with a wrong password costs one hash check; an unknown name (or one
  // without a stored hash) must cost the same, or the answer's time tells which names exist.
  ASSERT_NO_THROW(addLogin(db(), "known", "right-password"));
  ASSERT_NO_THROW(addLogin(db(), "unhashed", "x"));
  storeHash(db(), "unhashed", {});
  double wrongPassword = medianSeconds([&] { EXPECT_FALSE(checkLogin(db(), "known", "wrong")); });
  double unknownName = medianSeconds([&] { EXPECT_FALSE(checkLogin(db(), "nobody", "wrong")); });
  double noHash = medianSeconds([&] { EXPECT_FALSE(checkLogin(db(), "unhashed", "wrong")); });
  std::printf("  wrong password %.1f ms, unknown name %.1f ms, no stored hash %.1f ms\n", wrongPassword * 1000,
              unknownName * 1000, noHash * 1000);
  // Skipping the hash makes an unknown name about eight times faster.
  EXPECT_GT(unknownName, wrongPassword * 0.5);
  EXPECT_GT(noHash, wrongPassword * 0.5);
}

}  // namespace
}  // namespace tabsrv
