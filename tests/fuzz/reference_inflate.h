// A deliberately plain inflate decoder, used only as a yardstick for the real
// one (unit tests and fuzzers compare the two on every input they try).
//
// It follows the decoder's defining description step by step: bits are taken
// one at a time; a code is read bit by bit, and after each bit every row of
// the table for that length is searched for a pair with that code (all 300
// pairs for literals/lengths, the first 31 for distances, the first 19 for
// code lengths, rows 1 to 7 only for code lengths); tables are assigned
// canonical codes by (length, symbol) with nothing checked; a 16 before any
// length or a run carrying the count beyond 317 breaks the code lengths.
// Where the real decoder refuses corrupt data the description leaves open,
// this one refuses the same data: bits needed past the end of the input,
// a match past the n-th byte (unless cut) or before the first byte, a
// literal/length symbol of 286 or 287, a reserved block type, a block
// wanted after the final one, a stored block cut off by the end of the input.
// A stored block's length field is read at the byte boundary after its header.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The fuzzers need no coverage feedback from this yardstick, which only
// mirrors the decoder under test; without it they run several times faster.
#if defined(__clang__)
#define QOR_REFERENCE_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define QOR_REFERENCE_NO_COVERAGE
#endif

namespace qor_test {

struct ReferenceResult {
  int ok = 0;
  std::vector<std::uint8_t> out;
  std::vector<std::string> traces;
};

class ReferenceInflater {
 public:
  ReferenceInflater(const std::uint8_t* data, std::size_t size, std::uint32_t n, bool cut)
      : data_(data), size_(size), remaining_(n), cut_(cut) {}

  QOR_REFERENCE_NO_COVERAGE ReferenceResult Run() {
    if (remaining_ == 0) return std::move(r_);
    r_.ok = Decode() ? 1 : 0;
    return std::move(r_);
  }

 private:
  // Rows by code length; pair i of a row belongs to symbol i (symbol -1:
  // empty). `used` lists the non-empty pairs of each row in index order, so
  // that a search visits the same pairs in the same order without walking
  // the empty ones.
  struct Table {
    int count[16];
    int code[16][300];
    int symbol[16][300];
    std::vector<int> used[16];
    QOR_REFERENCE_NO_COVERAGE Table() {
      for (int l = 0; l < 16; ++l) {
        count[l] = 0;
        for (int i = 0; i < 300; ++i) code[l][i] = 0, symbol[l][i] = -1;
      }
    }
  };

  QOR_REFERENCE_NO_COVERAGE bool Bit(int& b) {
    if (bitPos_ >= size_ * 8) return false;
    b = (data_[bitPos_ / 8] >> (bitPos_ % 8)) & 1;
    ++bitPos_;
    return true;
  }
  QOR_REFERENCE_NO_COVERAGE bool Number(int n, int& v) {
    v = 0;
    for (int i = 0; i < n; ++i) {
      int b;
      if (!Bit(b)) return false;
      v |= b << i;
    }
    return true;
  }

  QOR_REFERENCE_NO_COVERAGE static void Assign(Table& t, const int* lens, int count) {
    int prevCode = 0, prevLen = 0;
    bool first = true;
    for (int len = 1; len <= 15; ++len)
      for (int s = 0; s < count; ++s) {
        if (lens[s] != len) continue;
        int code = first ? 0 : (prevCode + 1) << (len - prevLen);
        first = false;
        prevCode = code, prevLen = len;
        t.code[len][s] = code;
        t.symbol[len][s] = s;
        t.used[len].push_back(s);
        ++t.count[len];
      }
  }

  // -1: no pair matched; -2: the input ended.
  QOR_REFERENCE_NO_COVERAGE int Search(const Table& t, int rows, int pairs) {
    int code = 0;
    for (int len = 1; len <= rows; ++len) {
      int b;
      if (!Bit(b)) return -2;
      code = code * 2 + b;
      if (!t.count[len]) continue;
      for (int i : t.used[len]) {
        if (i >= pairs) break;
        if (t.symbol[len][i] != -1 && t.code[len][i] == code) return t.symbol[len][i];
      }
    }
    return -1;
  }

  void Emit(std::uint8_t b) { r_.out.push_back(b); }

  QOR_REFERENCE_NO_COVERAGE bool Decode() {
    bool afterFinal = false;
    for (;;) {
      if (afterFinal) return false;
      int final, type;
      if (!Number(1, final) || !Number(2, type)) return false;
      afterFinal = final != 0;
      if (type == 0) {
        int st = Stored();
        if (st != 0) return st > 0;
      } else if (type == 1) {
        r_.traces.push_back("blok fixed.... ");
        Table lit, dist;
        int lens[288];
        for (int s = 0; s < 288; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        Assign(lit, lens, 288);
        for (int s = 0; s < 30; ++s) lens[s] = 5;
        Assign(dist, lens, 30);
        int st = Huffman(lit, dist);
        if (st != 0) return st > 0;
        r_.traces.push_back("koniec bloku fixed");
      } else if (type == 2) {
        r_.traces.push_back("blok dynamiczny.... ");
        Table lit, dist;
        if (!Dynamic(lit, dist)) return false;
        int st = Huffman(lit, dist);
        if (st != 0) return st > 0;
        r_.traces.push_back("koniec bloku dynamic");
      } else {
        return false;
      }
    }
  }

  // 1 done, -1 failed, 0 go on.
  QOR_REFERENCE_NO_COVERAGE int Stored() {
    bitPos_ = (bitPos_ + 7) / 8 * 8;
    std::size_t at = bitPos_ / 8;
    if (at + 4 > size_) return -1;
    unsigned len = data_[at] | data_[at + 1] << 8, nlen = data_[at + 2] | data_[at + 3] << 8;
    at += 4;
    if (nlen != (~len & 0xFFFF)) {
      r_.traces.push_back("blad bloku 00: NLEN nie jest dopelnieniem LEN");
      return -1;
    }
    std::uint32_t take = len >= remaining_ ? remaining_ : len;
    if (at + take > size_) return -1;
    for (std::uint32_t i = 0; i < take; ++i) Emit(data_[at + i]);
    bitPos_ = (at + take) * 8;
    if (len >= remaining_) {
      r_.traces.push_back("wczytano " + std::to_string(remaining_) + " bajtow z bloku 00...wychodze....");
      remaining_ = 0;
      return 1;
    }
    remaining_ -= len;
    r_.traces.push_back("wcztyano blok 00 o wielkosci=" + std::to_string(len) + "  beda nastepne...");
    return 0;
  }

  QOR_REFERENCE_NO_COVERAGE bool Dynamic(Table& lit, Table& dist) {
    int hlit, hdist, hclen;
    if (!Number(5, hlit) || !Number(5, hdist) || !Number(4, hclen)) return false;
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int pre[19] = {};
    for (int i = 0; i < hclen + 4; ++i)
      if (!Number(3, pre[order[i]])) return false;
    Table preTable;
    Assign(preTable, pre, 19);
    const int total = hlit + 257 + hdist + 1;
    std::vector<int> lens(320, 0);
    int count = 0;
    while (count < total) {
      int sym = Search(preTable, 7, 19);
      if (sym < 0) return false;
      if (sym < 16) {
        lens[count++] = sym;
        continue;
      }
      int value = 0, run, x;
      if (sym == 16) {
        if (count == 0 || !Number(2, x)) return false;
        value = lens[count - 1], run = 3 + x;
      } else if (sym == 17) {
        if (!Number(3, x)) return false;
        run = 3 + x;
      } else {
        if (!Number(7, x)) return false;
        run = 11 + x;
      }
      if (count + run > 317) return false;
      for (int i = 0; i < run; ++i) lens[count++] = value;
    }
    Assign(lit, lens.data(), hlit + 257);
    Assign(dist, lens.data() + hlit + 257, hdist + 1);
    return true;
  }

  // 1 done, -1 failed, 0 end of block.
  QOR_REFERENCE_NO_COVERAGE int Huffman(const Table& lit, const Table& dist) {
    static const int lbase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int lextra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    for (;;) {
      int sym = Search(lit, 15, 300);
      if (sym < 0 || sym > 285) return -1;
      if (sym < 256) {
        Emit(static_cast<std::uint8_t>(sym));
        if (--remaining_ == 0) return 1;
        continue;
      }
      if (sym == 256) return 0;
      int x;
      if (!Number(lextra[sym - 257], x)) return -1;
      std::uint32_t len = lbase[sym - 257] + x;
      int ds = Search(dist, 15, 31);
      if (ds < 0 || ds >= 30) return -1;
      std::uint32_t d;
      if (ds < 4) {
        d = ds + 1;
      } else {
        int c = (ds - 2) / 2;
        if (!Number(c, x)) return -1;
        d = x + (1u << c) * (ds % 2) + (1u << (c + 1)) + 1;
      }
      if (len > remaining_) {
        if (!cut_) return -1;
        len = remaining_;
      }
      if (d > r_.out.size()) return -1;
      for (std::uint32_t i = 0; i < len; ++i) Emit(r_.out[r_.out.size() - d]);
      remaining_ -= len;
      if (remaining_ == 0) return 1;
    }
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t bitPos_ = 0;
  std::uint32_t remaining_;
  bool cut_;
  ReferenceResult r_;
};

inline ReferenceResult ReferenceInflate(const std::vector<std::uint8_t>& data, std::uint32_t n, bool cut = false) {
  return ReferenceInflater(data.data(), data.size(), n, cut).Run();
}

}  // namespace qor_test
