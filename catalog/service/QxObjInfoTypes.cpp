// Flag decoding of the detail records and the permission-action table.

#include "catalog/service/QxObjInfoTypes.h"

#include <array>

namespace {

// The action numbers of TQxProtectAction codes 1 to 14.
constexpr std::array<int, 15> kActionNumbers = {0, 193, 195, 196, 197, 224, 151, 203, 233, 222, 236, 198, 207, 228, 235};

template <size_t N, size_t M>
std::bitset<N> Decode(int64_t status, const std::array<int64_t, M>& bits) {
  std::bitset<N> flags;
  for (size_t k = 0; k < M; ++k)
    if (status & bits[k]) flags.set(k);
  return flags;
}

}  // namespace

TQxProtectAction ProtectActionOfNumber(int number) {
  for (size_t code = 1; code < kActionNumbers.size(); ++code)
    if (kActionNumbers[code] == number) return static_cast<TQxProtectAction>(code);
  return paNone;
}

int ActionNumberOfProtect(int action) {
  if (action < 1 || action >= static_cast<int>(kActionNumbers.size())) return 0;
  return kActionNumbers[static_cast<size_t>(action)];
}

uint8_t ProtectTypeOfNumber(int number) {
  switch (number) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 3;
    default: return 0;
  }
}

std::bitset<16> DatabaseStatusFlags(int64_t status) {
  return Decode<16>(status, std::array<int64_t, 10>{4, 8, 16, 32, 256, 512, 1024, 2048, 4096, 8192});
}

std::bitset<8> DatabaseStatus2Flags(int64_t status2) {
  return Decode<8>(status2, std::array<int64_t, 8>{1, 2, 4, 8, 16, 32, 64, 32768});
}

std::bitset<8> ObjectStatusFlags(int64_t sysstat2) {
  return Decode<8>(sysstat2, std::array<int64_t, 8>{1, 2, 4, 8, 16, 32, 64, 512});
}

std::bitset<8> LoginStatusFlags(int64_t status) { return Decode<8>(status, std::array<int64_t, 3>{1, 2, 4}); }

std::bitset<16> IndexStatusFlags(int64_t status) {
  return Decode<16>(status, std::array<int64_t, 10>{1, 2, 4, 16, 64, 128, 512, 1024, 2048, 32768});
}

std::bitset<8> IndexStatus2Flags(int64_t status2) {
  return Decode<8>(status2, std::array<int64_t, 7>{1, 2, 4, 8, 16, 32, 64});
}

std::bitset<16> DeviceStatusFlags(int64_t status) { return std::bitset<16>(static_cast<uint64_t>(status & 16383)); }
