// Sets of named flags over an enumeration, as the suite's option properties use them
// ([mdEnhErr], [smDbMsg, smDbErr]): members are the enumeration's ordinals, in its order.
#pragma once

#include <bitset>
#include <initializer_list>

// A set of members of the enumeration E, whose ordinals run from 0 to N - 1.
template <class E, int N>
class TSet {
 public:
  // The empty set.
  constexpr TSet() = default;
  // The set of the listed members.
  TSet(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  // True when E is a member.
  bool Contains(E e) const { return InRange(e) && bits_.test(static_cast<size_t>(e)); }
  // Adds E.
  TSet& Include(E e) {
    if (InRange(e)) bits_.set(static_cast<size_t>(e));
    return *this;
  }
  // Removes E.
  TSet& Exclude(E e) {
    if (InRange(e)) bits_.reset(static_cast<size_t>(e));
    return *this;
  }
  // True for the empty set.
  bool Empty() const { return bits_.none(); }
  // The number of members.
  int Count() const { return static_cast<int>(bits_.count()); }
  // Union, difference and intersection.
  TSet operator+(const TSet& o) const { return FromBitset(bits_ | o.bits_); }
  TSet operator-(const TSet& o) const { return FromBitset(bits_ & ~o.bits_); }
  TSet operator*(const TSet& o) const { return FromBitset(bits_ & o.bits_); }
  bool operator==(const TSet& o) const { return bits_ == o.bits_; }
  bool operator!=(const TSet& o) const { return bits_ != o.bits_; }
  // The members as bits (bit i for ordinal i), for storing a set.
  unsigned long ToBits() const { return bits_.to_ulong(); }
  // The set whose members are the bits of Bits.
  static TSet FromBits(unsigned long bits) { return FromBitset(std::bitset<N>(bits)); }

 private:
  static bool InRange(E e) { return static_cast<int>(e) >= 0 && static_cast<int>(e) < N; }
  static TSet FromBitset(const std::bitset<N>& b) {
    TSet s;
    s.bits_ = b;
    return s;
  }
  std::bitset<N> bits_;
};
