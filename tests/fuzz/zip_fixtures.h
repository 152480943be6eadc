// Makers of test inputs for the ZIP reader and the inflate decoder, shared by
// the unit tests and the fuzz seed generator:
//  * DeflateRaw: raw DEFLATE data from zlib, with a choice of level, strategy
//    and mid-stream flushes or level changes;
//  * BitWriter: hand-built DEFLATE bit streams;
//  * ZipBuilder: archives assembled record by record, with the oddities the
//    reader must cope with (prefixes, extra fields, comments, flags).
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qor_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// One step of a zlib run: feed `count` more bytes with this flush mode, after
// switching to this level (-2: keep the present level).
struct DeflateStep {
  std::size_t count;
  int flush = Z_NO_FLUSH;
  int level = -2;
};

inline Bytes DeflateRaw(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY,
                        const std::vector<DeflateStep>& steps = {}) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return {};
  Bytes out(compressBound(static_cast<uLong>(data.size())) + 1024 + 64 * steps.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  std::size_t fed = 0;
  for (const auto& step : steps) {
    if (step.level != -2) deflateParams(&z, step.level, strategy);
    z.next_in = const_cast<Bytef*>(data.data() + fed);
    z.avail_in = static_cast<uInt>(step.count);
    deflate(&z, step.flush);
    fed += step.count;
  }
  z.next_in = const_cast<Bytef*>(data.data() + fed);
  z.avail_in = static_cast<uInt>(data.size() - fed);
  int rc = deflate(&z, Z_FINISH);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) return {};
  out.resize(z.total_out);
  return out;
}

// zlib's own decoding of raw DEFLATE data: the bytes, and whether the stream
// ended properly.
inline bool InflateRawZlib(const Bytes& in, Bytes& out, std::size_t maxOut) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out.assign(maxOut + 1, 0);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

// Bits in DEFLATE order: numbers least significant bit first, Huffman codes
// most significant bit first.
class BitWriter {
 public:
  BitWriter& Bits(std::uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) Put((value >> i) & 1);
    return *this;
  }
  BitWriter& Code(std::uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) Put((code >> i) & 1);
    return *this;
  }
  BitWriter& AlignToByte() {
    while (bit_ != 0) Put(0);
    return *this;
  }
  BitWriter& Byte(std::uint8_t b) { return Bits(b, 8); }
  // A stored block: header, padding, LEN, NLEN and the bytes.
  BitWriter& Stored(bool final, const Bytes& data) {
    Bits(final ? 1 : 0, 1).Bits(0, 2).AlignToByte();
    std::uint32_t len = static_cast<std::uint32_t>(data.size());
    Bits(len, 16).Bits(~len & 0xFFFF, 16);
    for (auto b : data) Byte(b);
    return *this;
  }
  // Fixed-Huffman symbols (RFC 1951, 3.2.6).
  BitWriter& FixedLitLen(unsigned sym) {
    if (sym < 144) return Code(0x30 + sym, 8);
    if (sym < 256) return Code(0x190 + sym - 144, 9);
    if (sym < 280) return Code(sym - 256, 7);
    return Code(0xC0 + sym - 280, 8);
  }
  std::size_t BitCount() const { return bytes_.size() * 8 - (bit_ ? 8 - bit_ : 0); }
  const Bytes& Data() const { return bytes_; }

 private:
  void Put(unsigned b) {
    if (bit_ == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<std::uint8_t>(b << bit_);
    bit_ = (bit_ + 1) & 7;
  }
  Bytes bytes_;
  unsigned bit_ = 0;
};

// Canonical codes for a list of lengths, assigned in order of (length,
// symbol) with no check: codes that no longer fit their length come out too
// large, as the decoder's assignment makes them.
inline std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lens) {
  std::vector<std::uint32_t> codes(lens.size(), 0);
  std::uint32_t code = 0;
  int prevLen = 0;
  bool first = true;
  for (int len = 1; len <= 15; ++len)
    for (std::size_t s = 0; s < lens.size(); ++s) {
      if (lens[s] != len) continue;
      code = first ? 0 : (code + 1) << (len - prevLen);
      first = false;
      prevLen = len;
      codes[s] = code;
    }
  return codes;
}

// A code-length symbol (0..18) with the value of its extra bits.
struct LengthSymbol {
  int symbol;
  int extra = 0;
};

// A dynamic block header from its parts: HLIT and HDIST as sent, the
// code-length code's lengths for symbols 0..18 (all 19 are sent, in the
// format's order), and the code-length symbols.
inline void DynamicHeaderRaw(BitWriter& w, bool final, int hlit, int hdist, const std::vector<int>& precodeLens,
                             const std::vector<LengthSymbol>& sequence) {
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  w.Bits(final ? 1 : 0, 1).Bits(2, 2);
  w.Bits(static_cast<std::uint32_t>(hlit), 5).Bits(static_cast<std::uint32_t>(hdist), 5).Bits(19 - 4, 4);
  for (int i = 0; i < 19; ++i) w.Bits(static_cast<std::uint32_t>(precodeLens[order[i]]), 3);
  const auto codes = CanonicalCodes(precodeLens);
  for (const auto& ls : sequence) {
    w.Code(codes[ls.symbol], static_cast<unsigned>(precodeLens[ls.symbol]));
    if (ls.symbol == 16) w.Bits(static_cast<std::uint32_t>(ls.extra), 2);
    if (ls.symbol == 17) w.Bits(static_cast<std::uint32_t>(ls.extra), 3);
    if (ls.symbol == 18) w.Bits(static_cast<std::uint32_t>(ls.extra), 7);
  }
}

// A complete code-length code with a code for every symbol: 0..12 get 4
// bits, 13..18 5 bits.
inline std::vector<int> FullPrecode() {
  std::vector<int> lens(19, 4);
  for (int s = 13; s < 19; ++s) lens[static_cast<std::size_t>(s)] = 5;
  return lens;
}

// A dynamic block header for these literal/length and distance code lengths,
// each length sent as itself through FullPrecode.
inline void DynamicHeader(BitWriter& w, bool final, const std::vector<int>& litLens, const std::vector<int>& distLens) {
  std::vector<LengthSymbol> sequence;
  for (int len : litLens) sequence.push_back({len});
  for (int len : distLens) sequence.push_back({len});
  DynamicHeaderRaw(w, final, static_cast<int>(litLens.size()) - 257, static_cast<int>(distLens.size()) - 1,
                   FullPrecode(), sequence);
}

// Writes symbols, lengths and distances with given literal/length and
// distance code lengths (canonical codes; symbols whose codes do not fit
// cannot be written and must not be asked for).
class HuffmanWriter {
 public:
  HuffmanWriter(const std::vector<int>& litLens, const std::vector<int>& distLens)
      : litLens_(litLens), distLens_(distLens), litCodes_(CanonicalCodes(litLens)), distCodes_(CanonicalCodes(distLens)) {}
  void Symbol(BitWriter& w, int sym) const { w.Code(litCodes_[sym], static_cast<unsigned>(litLens_[sym])); }
  void DistSymbol(BitWriter& w, int sym) const { w.Code(distCodes_[sym], static_cast<unsigned>(distLens_[sym])); }
  // A match: its length symbol and extra bits, its distance symbol and extra bits.
  void Match(BitWriter& w, int length, int distance) const {
    int sym, extraBits, extra;
    LengthCode(length, sym, extraBits, extra);
    Symbol(w, sym);
    w.Bits(static_cast<std::uint32_t>(extra), static_cast<unsigned>(extraBits));
    DistCode(distance, sym, extraBits, extra);
    DistSymbol(w, sym);
    w.Bits(static_cast<std::uint32_t>(extra), static_cast<unsigned>(extraBits));
  }
  bool Writable(int sym) const { return litLens_[sym] && litCodes_[sym] < (1u << litLens_[sym]); }
  bool DistWritable(int sym) const {
    return sym < static_cast<int>(distLens_.size()) && distLens_[sym] && distCodes_[sym] < (1u << distLens_[sym]);
  }

  static void LengthCode(int length, int& sym, int& extraBits, int& extra) {
    static const int base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int bits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int i = 28;
    if (length != 258)
      for (i = 27; base[i] > length; --i) {
      }
    sym = 257 + i, extraBits = bits[i], extra = length - base[i];
  }
  static void DistCode(int distance, int& sym, int& extraBits, int& extra) {
    int i = 29;
    while (DistBase(i) > distance) --i;
    sym = i, extraBits = i < 4 ? 0 : (i - 2) / 2, extra = distance - DistBase(i);
  }
  static int DistBase(int sym) { return sym < 4 ? sym + 1 : (1 << ((sym - 2) / 2)) * (sym % 2) + (1 << ((sym - 2) / 2 + 1)) + 1; }

 private:
  std::vector<int> litLens_, distLens_;
  std::vector<std::uint32_t> litCodes_, distCodes_;
};

// ---------------------------------------------------------------------------
// ZIP archives

struct ZipEntrySpec {
  std::string name;
  Bytes data;            // what the entry holds, uncompressed
  int method = 0;        // 0 stored, 8 deflated (compressed here), others written as given
  std::uint16_t flags = 0;
  Bytes localExtra;
  Bytes centralExtra;
  std::string comment;
  bool overrideSize = false;  // write `size` as the uncompressed size instead of data.size()
  std::uint32_t size = 0;
  Bytes payload;         // written instead of the stored/compressed data when not empty
};

struct ZipLayout {
  Bytes prefix;              // bytes before the first local header (an executable stub)
  std::string comment;       // archive comment after the end record
  bool relativeOffsets = false;  // offsets counted from the first local header, not the file start
  std::vector<std::size_t> localOrder;  // order of the local headers (default: as listed)
};

class ZipBuilder {
 public:
  static Bytes Build(const std::vector<ZipEntrySpec>& entries, const ZipLayout& layout = {}) {
    Bytes out = layout.prefix;
    const std::size_t base = layout.relativeOffsets ? layout.prefix.size() : 0;
    std::vector<std::uint32_t> offsets(entries.size());
    std::vector<Bytes> payloads(entries.size());
    std::vector<std::size_t> order = layout.localOrder;
    if (order.empty())
      for (std::size_t i = 0; i < entries.size(); ++i) order.push_back(i);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& e = entries[i];
      if (!e.payload.empty()) payloads[i] = e.payload;
      else if (e.method == 8) payloads[i] = DeflateRaw(e.data, 6);
      else payloads[i] = e.data;
    }
    for (std::size_t i : order) {
      const auto& e = entries[i];
      offsets[i] = static_cast<std::uint32_t>(out.size() - base);
      Put32(out, 0x04034b50);
      Put16(out, 20);
      PutEntryFields(out, e, payloads[i]);
      Put16(out, static_cast<std::uint16_t>(e.name.size()));
      Put16(out, static_cast<std::uint16_t>(e.localExtra.size()));
      out.insert(out.end(), e.name.begin(), e.name.end());
      out.insert(out.end(), e.localExtra.begin(), e.localExtra.end());
      out.insert(out.end(), payloads[i].begin(), payloads[i].end());
    }
    const std::uint32_t directory = static_cast<std::uint32_t>(out.size() - base);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& e = entries[i];
      Put32(out, 0x02014b50);
      Put16(out, 20);
      Put16(out, 20);
      PutEntryFields(out, e, payloads[i]);
      Put16(out, static_cast<std::uint16_t>(e.name.size()));
      Put16(out, static_cast<std::uint16_t>(e.centralExtra.size()));
      Put16(out, static_cast<std::uint16_t>(e.comment.size()));
      Put16(out, 0);
      Put16(out, 0);
      Put32(out, 0);
      Put32(out, offsets[i]);
      out.insert(out.end(), e.name.begin(), e.name.end());
      out.insert(out.end(), e.centralExtra.begin(), e.centralExtra.end());
      out.insert(out.end(), e.comment.begin(), e.comment.end());
    }
    const std::uint32_t directorySize = static_cast<std::uint32_t>(out.size() - base) - directory;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<std::uint16_t>(entries.size()));
    Put16(out, static_cast<std::uint16_t>(entries.size()));
    Put32(out, directorySize);
    Put32(out, directory);
    Put16(out, static_cast<std::uint16_t>(layout.comment.size()));
    out.insert(out.end(), layout.comment.begin(), layout.comment.end());
    return out;
  }

 private:
  static std::uint32_t Size(const ZipEntrySpec& e) {
    return e.overrideSize ? e.size : static_cast<std::uint32_t>(e.data.size());
  }
  // The fields that a local header and its directory record share, from the
  // flags to the uncompressed size (time 0, date 0x21: 1 January 1980).
  static void PutEntryFields(Bytes& out, const ZipEntrySpec& e, const Bytes& payload) {
    Put16(out, e.flags);
    Put16(out, static_cast<std::uint16_t>(e.method));
    Put16(out, 0);
    Put16(out, 0x21);
    Put32(out, crc32(0, e.data.data(), static_cast<uInt>(e.data.size())));
    Put32(out, static_cast<std::uint32_t>(payload.size()));
    Put32(out, Size(e));
  }
  static void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  static void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, static_cast<std::uint16_t>(v));
    Put16(b, static_cast<std::uint16_t>(v >> 16));
  }
};

}  // namespace qor_test
