// The inflate decoder.
//
// Input: a MemoryStream's bytes are read where they lie; any other Stream is
// read in 64 KiB pieces into a buffer. Bits are taken through a 64-bit bit
// buffer (first bit of the stream lowest), refilled a word at a time. Past
// the end of the input the bit buffer is padded with zero bytes that are
// counted; a decode that has consumed any of those bits fails, since its
// result would rest on bits that do not exist.
//
// Output: produced bytes are decoded into one contiguous area, so that
// matches copy within it word by word:
//  * when the output is a MemoryStream positioned at or past its end, the
//    area is the stream's own allocation (grown as needed) and the bytes are
//    committed as one write when the entry is complete;
//  * otherwise a 256 KiB window holds 32 KiB of history and the bytes
//    produced after it; they reach the output in large writes, and the last
//    32 KiB move to the front when the window is full.
//
// Codes: two-level tables (inflate_tables.h) decode each symbol, its extra
// bits included, with one or two lookups.
//
// Blocks: decoding is driven by the number of bytes wanted. It stops as soon
// as that many exist, even inside a block, and fails when another block is
// needed after the final one. A stored block's LEN and NLEN are read at the
// byte boundary after its header, wherever in the input that falls.
#include "zip/inflate.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "install/cpu_features.h"
#include "zip/inflate_tables.h"
#include "zip/little_endian.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QOR_INFLATE_BMI2 1
#else
#define QOR_INFLATE_BMI2 0
#endif

// The fast loops are not vectorised (see FastLoopGeneric); clang, which
// builds the fuzz targets, has no such attribute.
#if defined(__GNUC__) && !defined(__clang__)
#define QOR_NO_VECTORIZE __attribute__((optimize("no-tree-loop-vectorize")))
#else
#define QOR_NO_VECTORIZE
#endif

namespace qor {

namespace {

using namespace inflate_internal;

constexpr std::uint32_t kHistory = 32768;
constexpr std::uint32_t kWindowSize = 256 * 1024;
constexpr std::uint32_t kInBufSize = 64 * 1024;
constexpr std::ptrdiff_t kInKeep = 8;        // bytes kept before the read position when the buffer is refilled
constexpr std::uint32_t kMaxMatch = 258;
constexpr std::ptrdiff_t kFastIn = 16;       // the fast loop reads at most two 8-byte words per step
constexpr std::uint32_t kSlack = MemoryStream::kReserveSlack;  // word copies may write up to 7 bytes beyond a match
constexpr std::uint32_t kFirstReserve = 1u << 20;
constexpr std::uint64_t kMaxExpansion = 1032;  // at most 258 bytes per 2 bits of input
constexpr std::uint32_t kMaxLengths = 317;     // code-length runs may not carry the count beyond this

constexpr std::uint8_t kPrecodeOrder[kNumPrecodeSyms] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Trace lines for standard output, collected and handed on in one write
// (and a flush) when the buffer fills and when the call ends: the same lines
// in the same order as writing and flushing each one, without a system call
// per block.
class TraceLines {
 public:
  static constexpr std::size_t kSize = 64 * 1024;
  explicit TraceLines(char* buffer) : buffer_(buffer) {}
  ~TraceLines() { Flush(); }
  TraceLines(const TraceLines&) = delete;
  TraceLines& operator=(const TraceLines&) = delete;

  // The line, given as a string literal.
  template <std::size_t N>
  void Add(const char (&line)[N]) {
    Append(line, N - 1, nullptr, 0);
  }
  // head, the number in decimal, tail.
  template <std::size_t H, std::size_t T>
  void Add(const char (&head)[H], std::uint32_t number, const char (&tail)[T]) {
    char digits[10];
    std::size_t n = 0;
    do digits[sizeof digits - ++n] = static_cast<char>('0' + number % 10);
    while ((number /= 10) != 0);
    Append(head, H - 1, digits + sizeof digits - n, n, tail, T - 1);
  }
  void Flush() {
    if (!used_) return;
    std::fwrite(buffer_, 1, used_, stdout);
    std::fflush(stdout);
    used_ = 0;
  }

 private:
  void Append(const char* a, std::size_t na, const char* b, std::size_t nb, const char* c = nullptr,
              std::size_t nc = 0) {
    const std::size_t len = na + nb + nc + 1;  // lines are far shorter than the buffer
    if (used_ + len > kSize) Flush();
    char* p = buffer_ + used_;
    std::memcpy(p, a, na);
    if (nb) std::memcpy(p + na, b, nb);
    if (nc) std::memcpy(p + na + nb, c, nc);
    p[len - 1] = '\n';
    used_ += len;
  }

  char* buffer_;
  std::size_t used_ = 0;
};

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// Eight bytes loaded, then stored: the two may overlap (a match less than 8
// bytes back), which a memcpy from src to dst would not allow.
inline void Copy8(std::uint8_t* dst, const std::uint8_t* src) {
  std::uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}

inline std::uint64_t LowBits(std::uint64_t v, unsigned n) { return v & ((std::uint64_t{1} << n) - 1); }

// Value of a length or distance entry: its base plus the extra bits that
// follow the codeword in `saved` (the bit buffer before the entry was consumed).
inline std::uint32_t EntryValue(std::uint32_t e, std::uint64_t saved) {
  return (e >> 16) + static_cast<std::uint32_t>(LowBits(saved, e & 0xFF) >> ((e >> 8) & 0xF));
}

// LowBits(v, n) for n < 64 in the fast loop. GCC does not turn the mask into
// BZHI on its own, so the BMI2 loop states it (BZHI reads the low 8 bits of
// its count: an entry whose low byte is below 64 may be passed whole).
template <bool kBmi2>
__attribute__((always_inline)) inline std::uint64_t FastLowBits(std::uint64_t v, std::uint64_t n) {
#if QOR_INFLATE_BMI2
  if constexpr (kBmi2) {
    std::uint64_t r;
    asm("bzhi %2, %1, %0" : "=r"(r) : "r"(v), "r"(n));
    return r;
  }
#endif
  return LowBits(v, static_cast<unsigned>(n & 63));
}

struct Workspace {
  std::uint32_t litlen[kLitlenTableSize];
  std::uint32_t dist[kDistTableSize];
  std::uint32_t precode[kPrecodeTableSize];
  std::uint32_t fixedLitlen[1u << kLitlenTableBits];  // fixed codes have at most 9 bits: no subtables
  std::uint32_t fixedDist[1u << kDistTableBits];
  std::uint8_t lens[kNumLitlenSyms + kNumDistSyms];
  std::uint8_t in[kInBufSize];
  char trace[TraceLines::kSize];
};

enum class Step { kContinue, kBlockEnd, kDone, kFail };

class Inflater {
 public:
  Inflater(Stream* in, Workspace& ws, std::uint32_t n, bool cutAtN, bool genericOnly)
      : in_(in), ws_(ws), inPos_(ws.in), inEnd_(ws.in), n_(n), remaining_(n), cutAtN_(cutAtN),
        genericOnly_(genericOnly) {}
  ~Inflater() { std::free(window_); }

  void SetUpInput(Stream* out);
  bool SetUpOutput(Stream* out);
  int Run();
  void LeaveInput();

 private:
  // Input.
  void FillInput();
  void RefillSlow();
  bool FakeBitsUsed() const { return overread_ * 8 > bitsleft_; }
  std::uint32_t Bits(unsigned n) const { return static_cast<std::uint32_t>(LowBits(bitbuf_, n)); }
  void Drop(unsigned n) {
    bitbuf_ >>= n;
    bitsleft_ -= n;
  }

  // Output.
  bool MakeRoom(std::uint32_t need);
  bool Flush();
  bool Finish();
  std::uint32_t Room() const { return static_cast<std::uint32_t>(outEnd_ - out_); }

  // Blocks.
  Step StoredBlock();
  bool CopyStored(std::uint32_t count);
  bool ReadDynamicTables();
  void BuildFixedTables();
  Step HuffmanBlock(const std::uint32_t* litlen, const std::uint32_t* dist);
  Step FastLoop(const std::uint32_t* litlen, const std::uint32_t* dist);
  // The fast loops are not vectorised: GCC turns the word copies of a long
  // match into a vector loop behind run-time overlap checks, whose set-up
  // costs more than it saves on matches of a few dozen bytes (5% of the
  // loop's instructions on C headers).
  QOR_NO_VECTORIZE Step FastLoopGeneric(const std::uint32_t* litlen, const std::uint32_t* dist);
#if QOR_INFLATE_BMI2
  QOR_NO_VECTORIZE __attribute__((target("bmi2"))) Step FastLoopBmi2(const std::uint32_t* litlen,
                                                                      const std::uint32_t* dist);
#endif
  template <bool kBmi2>
  __attribute__((always_inline)) inline Step FastLoopBody(const std::uint32_t* litlen, const std::uint32_t* dist);
  Step SlowSymbol(const std::uint32_t* litlen, const std::uint32_t* dist);

  Stream* in_;
  Workspace& ws_;
  const std::uint8_t* inPos_;
  const std::uint8_t* inEnd_;
  bool inEof_ = false;
  MemoryStream* borrowed_ = nullptr;  // input read in place from this stream's buffer
  std::uint64_t bitbuf_ = 0;   // bits above bitsleft_ may hold copies of the next input bytes
  unsigned bitsleft_ = 0;
  unsigned overread_ = 0;      // zero bytes added past the end of the input

  MemoryStream* direct_ = nullptr;  // decoding straight into this stream, or
  Stream* sink_ = nullptr;          // into window_, written out to this one
  std::uint8_t* window_ = nullptr;
  std::uint8_t* base_ = nullptr;    // first byte a match may reach back to
  std::uint8_t* out_ = nullptr;     // next byte to produce
  std::uint8_t* outEnd_ = nullptr;  // end of the room to produce into
  std::uint8_t* flushed_ = nullptr; // window: first byte not yet written out

  const std::uint32_t n_;
  std::uint32_t remaining_;
  const bool cutAtN_;
  const bool genericOnly_;  // never the processor-specific fast loop
  bool fixedBuilt_ = false;
  TraceLines trace_{ws_.trace};
};

// ---------------------------------------------------------------------------
// Input

// A MemoryStream's bytes are read where they are; any other stream is read
// through the input buffer.
void Inflater::SetUpInput(Stream* out) {
  MemoryStream* memory = dynamic_cast<MemoryStream*>(in_);
  if (!memory || memory == out) {
    FillInput();
    return;
  }
  borrowed_ = memory;
  const std::uint32_t size = memory->Size();
  const std::uint32_t pos = memory->Position() < size ? memory->Position() : size;
  inPos_ = memory->Data() + pos;
  inEnd_ = memory->Data() + size;
  inEof_ = true;
}

// A borrowed input stream is left after the last byte the decoder used.
void Inflater::LeaveInput() {
  if (!borrowed_) return;
  const std::uint8_t* used = inPos_ - (bitsleft_ / 8 > overread_ ? bitsleft_ / 8 - overread_ : 0);
  borrowed_->Seek(static_cast<std::int32_t>(used - borrowed_->Data()), 0);
}

// Moves what is left to the front (with a few bytes before it, which a
// stored block may give back from the bit buffer) and reads until the buffer
// is full or the input ends.
void Inflater::FillInput() {
  const std::ptrdiff_t keep = inPos_ - ws_.in < kInKeep ? inPos_ - ws_.in : kInKeep;
  const std::ptrdiff_t live = inEnd_ - inPos_;
  std::memmove(ws_.in, inPos_ - keep, static_cast<std::size_t>(keep + live));
  inPos_ = ws_.in + keep;
  std::uint8_t* end = const_cast<std::uint8_t*>(inPos_) + live;
  while (!inEof_ && end < ws_.in + kInBufSize) {
    const std::uint32_t want = static_cast<std::uint32_t>(ws_.in + kInBufSize - end);
    const std::uint32_t got = in_->Read(end, want);
    if (got == 0 || got > want) {
      inEof_ = true;
      break;
    }
    end += got;
  }
  inEnd_ = end;
}

// At least 56 bits in the buffer; zero bytes past the end of the input.
void Inflater::RefillSlow() {
  while (bitsleft_ < 56) {
    if (inPos_ == inEnd_) {
      if (!inEof_) {
        FillInput();
        continue;
      }
      ++overread_;
    } else {
      bitbuf_ |= std::uint64_t{*inPos_++} << bitsleft_;
    }
    bitsleft_ += 8;
  }
}

// ---------------------------------------------------------------------------
// Output

bool Inflater::SetUpOutput(Stream* out) {
  MemoryStream* memory = dynamic_cast<MemoryStream*>(out);
  if (memory && memory->Position() >= memory->Size()) {
    // Reserve the whole entry at once unless its size is out of proportion
    // to the input that can produce it; it grows by doubling beyond that.
    std::uint64_t first = kFirstReserve;
    const std::intptr_t inSize = in_->GetProperty(Stream::kSizeProperty);
    const std::int32_t inPos = in_->Seek(0, 1);
    if (inPos >= 0 && inSize > inPos) {
      const std::uint64_t bound = static_cast<std::uint64_t>(inSize - inPos) * kMaxExpansion + 4096;
      if (bound > first) first = bound;
    }
    if (first > n_) first = n_;
    std::uint32_t room = 0;
    std::uint8_t* p = memory->Reserve(static_cast<std::uint32_t>(first), room);
    if (!p || room == 0) return false;
    direct_ = memory;
    base_ = out_ = p;
    outEnd_ = p + room;
    return true;
  }
  window_ = static_cast<std::uint8_t*>(std::malloc(kWindowSize + kSlack));
  if (!window_) return false;
  sink_ = out;
  base_ = out_ = flushed_ = window_;
  outEnd_ = window_ + kWindowSize;
  return true;
}

bool Inflater::Flush() {
  if (out_ > flushed_) {
    const std::uint32_t count = static_cast<std::uint32_t>(out_ - flushed_);
    if (sink_->Write(flushed_, count) != count) return false;
    flushed_ = out_;
  }
  return true;
}

// Makes room for at least `need` more bytes (need <= remaining_).
bool Inflater::MakeRoom(std::uint32_t need) {
  if (direct_) {
    const std::uint64_t produced = static_cast<std::uint64_t>(out_ - base_);
    std::uint64_t want = 2 * static_cast<std::uint64_t>(outEnd_ - base_);
    if (want < produced + need) want = produced + need;
    if (want > produced + remaining_) want = produced + remaining_;
    std::uint32_t room = 0;
    std::uint8_t* p = direct_->Reserve(static_cast<std::uint32_t>(want), room);
    if (!p || room < produced + need) return false;
    base_ = p;
    out_ = p + produced;
    outEnd_ = p + room;
    return true;
  }
  if (!Flush()) return false;
  if (Room() < need) {
    const std::ptrdiff_t keep = out_ - window_ < std::ptrdiff_t{kHistory} ? out_ - window_ : std::ptrdiff_t{kHistory};
    std::memmove(window_, out_ - keep, static_cast<std::size_t>(keep));
    out_ = flushed_ = window_ + keep;
  }
  return true;
}

bool Inflater::Finish() {
  if (FakeBitsUsed()) return false;
  if (direct_) {
    direct_->Commit(n_);
    return true;
  }
  return Flush();
}

// ---------------------------------------------------------------------------
// Blocks

int Inflater::Run() {
  bool afterFinal = false;
  for (;;) {
    if (afterFinal) return 0;  // the data ended before the entry did
    RefillSlow();
    afterFinal = Bits(1) != 0;
    const unsigned type = Bits(3) >> 1;
    Drop(3);
    if (FakeBitsUsed()) return 0;
    Step step;
    switch (type) {
      case 0:
        step = StoredBlock();
        break;
      case 1:
        trace_.Add("blok fixed.... ");
        BuildFixedTables();
        step = HuffmanBlock(ws_.fixedLitlen, ws_.fixedDist);
        if (step == Step::kBlockEnd) trace_.Add("koniec bloku fixed");
        break;
      case 2:
        trace_.Add("blok dynamiczny.... ");
        if (!ReadDynamicTables()) return 0;
        step = HuffmanBlock(ws_.litlen, ws_.dist);
        if (step == Step::kBlockEnd) trace_.Add("koniec bloku dynamic");
        break;
      default:
        return 0;  // reserved block type
    }
    if (step == Step::kFail) return 0;
    if (step == Step::kDone) return Finish() ? 1 : 0;
  }
}

Step Inflater::StoredBlock() {
  // Go to the byte boundary and give the whole bytes still in the bit
  // buffer back to the input.
  Drop(bitsleft_ & 7);
  if (FakeBitsUsed()) return Step::kFail;
  inPos_ -= bitsleft_ / 8 - overread_;
  bitbuf_ = 0;
  bitsleft_ = 0;
  overread_ = 0;

  if (inEnd_ - inPos_ < 4 && !inEof_) FillInput();
  if (inEnd_ - inPos_ < 4) return Step::kFail;
  const std::uint16_t len = Le16(inPos_);
  const std::uint16_t nlen = Le16(inPos_ + 2);
  inPos_ += 4;
  if (nlen != static_cast<std::uint16_t>(~len)) {
    trace_.Add("blad bloku 00: NLEN nie jest dopelnieniem LEN");
    return Step::kFail;
  }
  if (len >= remaining_) {
    const std::uint32_t count = remaining_;
    if (!CopyStored(count)) return Step::kFail;
    trace_.Add("wczytano ", count, " bajtow z bloku 00...wychodze....");
    return Step::kDone;
  }
  if (!CopyStored(len)) return Step::kFail;
  trace_.Add("wcztyano blok 00 o wielkosci=", len, "  beda nastepne...");
  return Step::kBlockEnd;
}

// Copies count bytes of a stored block from the input to the output; large
// pieces are read from the stream straight into the output.
bool Inflater::CopyStored(std::uint32_t count) {
  while (count > 0) {
    if (out_ == outEnd_ && !MakeRoom(1)) return false;
    std::uint32_t chunk = count < Room() ? count : Room();
    if (inPos_ < inEnd_) {
      if (chunk > static_cast<std::uint32_t>(inEnd_ - inPos_)) chunk = static_cast<std::uint32_t>(inEnd_ - inPos_);
      std::memcpy(out_, inPos_, chunk);
      inPos_ += chunk;
    } else if (inEof_) {
      return false;  // the input ends inside the block
    } else if (chunk >= kInBufSize / 2) {
      const std::uint32_t got = in_->Read(out_, chunk);
      if (got == 0 || got > chunk) {
        inEof_ = true;
        continue;
      }
      chunk = got;
    } else {
      FillInput();
      continue;
    }
    out_ += chunk;
    remaining_ -= chunk;
    count -= chunk;
  }
  return true;
}

void Inflater::BuildFixedTables() {
  if (fixedBuilt_) return;
  std::uint8_t lens[kNumLitlenSyms];
  std::memset(lens, 8, 144);
  std::memset(lens + 144, 9, 112);
  std::memset(lens + 256, 7, 24);
  std::memset(lens + 280, 8, 8);
  BuildDecodeTable(ws_.fixedLitlen, kLitlenTableBits, lens, kNumLitlenSyms, kLitlenSymbols.data());
  std::memset(lens, 5, 30);
  BuildDecodeTable(ws_.fixedDist, kDistTableBits, lens, 30, kDistSymbols.data());
  fixedBuilt_ = true;
}

// Reads a dynamic block's code lengths and builds its tables; false for a
// broken sequence: a code-length code that matches nothing, a repeat (16)
// before any length, or a run that would carry the count beyond 317.
// Lengths produced beyond HLIT + HDIST by a run are ignored.
bool Inflater::ReadDynamicTables() {
  RefillSlow();
  const unsigned hlit = Bits(5) + 257;
  const unsigned hdist = Bits(10) >> 5;
  const unsigned hclen = (Bits(14) >> 10) + 4;
  Drop(14);
  std::uint8_t pre[kNumPrecodeSyms] = {};
  for (unsigned i = 0; i < hclen; ++i) {
    if (bitsleft_ < 3) RefillSlow();
    pre[kPrecodeOrder[i]] = static_cast<std::uint8_t>(Bits(3));
    Drop(3);
  }
  if (FakeBitsUsed()) return false;
  BuildDecodeTable(ws_.precode, kPrecodeTableBits, pre, kNumPrecodeSyms, kPrecodeSymbols.data());

  const unsigned total = hlit + hdist + 1;
  std::uint8_t* lens = ws_.lens;
  unsigned count = 0;
  while (count < total) {
    RefillSlow();
    const std::uint32_t e = ws_.precode[bitbuf_ & ((1u << kPrecodeTableBits) - 1)];
    if (e & kExceptional) return false;
    Drop(e & 0xFF);
    const unsigned sym = e >> 16;
    if (sym < 16) {
      lens[count++] = static_cast<std::uint8_t>(sym);
    } else {
      std::uint8_t value = 0;
      unsigned run;
      if (sym == 16) {
        if (count == 0) return false;
        value = lens[count - 1];
        run = 3 + Bits(2);
        Drop(2);
      } else if (sym == 17) {
        run = 3 + Bits(3);
        Drop(3);
      } else {
        run = 11 + Bits(7);
        Drop(7);
      }
      if (count + run > kMaxLengths) return false;
      std::memset(lens + count, value, run);
      count += run;
    }
    if (FakeBitsUsed()) return false;
  }
  BuildDecodeTable(ws_.litlen, kLitlenTableBits, lens, hlit, kLitlenSymbols.data());
  BuildDecodeTable(ws_.dist, kDistTableBits, lens + hlit, hdist + 1, kDistSymbols.data());
  return true;
}

Step Inflater::HuffmanBlock(const std::uint32_t* litlen, const std::uint32_t* dist) {
  for (;;) {
    if (remaining_ == 0) return Step::kDone;
    if (inEnd_ - inPos_ < kFastIn && !inEof_) FillInput();
    const std::uint32_t need = remaining_ < kMaxMatch ? remaining_ : kMaxMatch;
    if (Room() < need && !MakeRoom(need)) return Step::kFail;
    const Step step = remaining_ >= kMaxMatch && Room() >= kMaxMatch && inEnd_ - inPos_ >= kFastIn
                          ? FastLoop(litlen, dist)
                          : SlowSymbol(litlen, dist);
    if (step != Step::kContinue) return step;
  }
}

// Symbols while at least kFastIn input bytes and room for a longest match
// within the bytes still wanted remain, without further checks. Each pass
// starts with at least 56 bits in the buffer and the table entry for the
// next symbol already looked up, and ends with one refill.
//
// Only the low 8 bits of the local bit count are meaningful: an entry is
// consumed by subtracting the whole entry (its low 8 bits are the bits it
// takes), which borrows into the high bits at most. Shift counts are taken
// modulo 64, as the processor takes them anyway, so that no masking is
// needed: an entry's consumed bits and its codeword bits (bits 8..13, bit 12
// and the end-of-block bit 13 being clear in a length or distance entry)
// are never above 63.
template <bool kBmi2>
Step Inflater::FastLoopBody(const std::uint32_t* litlen, const std::uint32_t* dist) {
  constexpr std::uint64_t litMask = (1u << kLitlenTableBits) - 1;
  constexpr std::uint64_t distMask = (1u << kDistTableBits) - 1;
  std::uint64_t bitbuf = bitbuf_;
  std::uint32_t bitsleft = bitsleft_;
  const std::uint8_t* in = inPos_;
  const std::uint8_t* const inLimit = inEnd_ - kFastIn;
  std::uint8_t* out = out_;
  const std::uint32_t avail = remaining_ < Room() ? remaining_ : Room();
  std::uint8_t* const outLimit = out + (avail - kMaxMatch);
  Step step = Step::kContinue;

  // Bits above bitsleft may already hold the next input bytes: OR-ing the
  // same bytes in again leaves them as they are.
#define QOR_REFILL()                             \
  do {                                           \
    bitbuf |= Load64(in) << (bitsleft & 63);     \
    in += 7 - ((bitsleft >> 3) & 7);             \
    bitsleft |= 56;                              \
  } while (0)
#define QOR_CONSUME_ENTRY(e) \
  do {                       \
    bitbuf >>= (e) & 63;     \
    bitsleft -= (e);         \
  } while (0)
#define QOR_CONSUME(n) \
  do {                 \
    bitbuf >>= (n);    \
    bitsleft -= (n);   \
  } while (0)
// Base plus the extra bits that follow the codeword in saved.
#define QOR_VALUE(e, saved) \
  (((e) >> 16) + static_cast<std::uint32_t>(FastLowBits<kBmi2>((saved), (e)) >> (((e) >> 8) & 63)))

  QOR_REFILL();
  std::uint32_t e = litlen[bitbuf & litMask];
  while (out <= outLimit && in <= inLimit) {
    if (e & kLiteral) {
      // Up to four literals (44 bits) on one refill.
      QOR_CONSUME_ENTRY(e);
      *out++ = static_cast<std::uint8_t>(e >> 16);
      e = litlen[bitbuf & litMask];
      if (e & kLiteral) {
        QOR_CONSUME_ENTRY(e);
        *out++ = static_cast<std::uint8_t>(e >> 16);
        e = litlen[bitbuf & litMask];
        if (e & kLiteral) {
          // A literal of the main table takes at most 11 bits: after three
          // (33 bits gone) a fourth one's lookup still has real bits, and
          // after four (44) so has the next symbol's, which need not wait
          // for the refill.
          QOR_CONSUME_ENTRY(e);
          *out++ = static_cast<std::uint8_t>(e >> 16);
          e = litlen[bitbuf & litMask];
          if (e & kLiteral) {
            QOR_CONSUME_ENTRY(e);
            *out++ = static_cast<std::uint8_t>(e >> 16);
            e = litlen[bitbuf & litMask];
          }
          QOR_REFILL();
          continue;
        }
      }
      // At least 26 bits remained, so e was looked up with real bits; a
      // length and its distance need the refill.
      QOR_REFILL();
      continue;
    }
    if (e & kExceptional) {
      if (e & kSubtable) {
        QOR_CONSUME(kLitlenTableBits);
        e = litlen[(e >> 16) + FastLowBits<kBmi2>(bitbuf, (e >> 8) & 0xF)];
        if (e & kLiteral) {
          QOR_CONSUME_ENTRY(e);
          *out++ = static_cast<std::uint8_t>(e >> 16);
          e = litlen[bitbuf & litMask];
          QOR_REFILL();
          continue;
        }
        // A long length code: top the buffer up again, so that the bits
        // after the distance still suffice for the next lookup (below).
        QOR_REFILL();
      }
      if (e & kExceptional) {
        if (e & kEndOfBlock) {
          QOR_CONSUME_ENTRY(e);
          step = Step::kBlockEnd;
        } else {
          step = Step::kFail;
        }
        break;
      }
    }
    // A length from the main table (at most 16 bits with its extra bits, or
    // 9 after the refill above) and a distance (at most 28): at least 12 of
    // the 56 bits remain after them.
    std::uint64_t saved = bitbuf;
    QOR_CONSUME_ENTRY(e);
    const std::uint32_t len = QOR_VALUE(e, saved);
    e = dist[bitbuf & distMask];
    if (e & kExceptional) {
      if (!(e & kSubtable)) {
        step = Step::kFail;
        break;
      }
      QOR_CONSUME(kDistTableBits);
      e = dist[(e >> 16) + FastLowBits<kBmi2>(bitbuf, (e >> 8) & 0xF)];
      if (e & kExceptional) {
        step = Step::kFail;
        break;
      }
    }
    saved = bitbuf;
    QOR_CONSUME_ENTRY(e);
    const std::uint32_t d = QOR_VALUE(e, saved);
    if (d > static_cast<std::uintptr_t>(out - base_)) {
      step = Step::kFail;  // reaches before the first byte
      break;
    }
    // The next symbol's entry is fetched before the refill, with the bits
    // that remain, and both before the copy, so that they overlap.
    e = litlen[bitbuf & litMask];
    QOR_REFILL();

    // Word copies run past the match by up to 39 bytes: there is room, and
    // whatever lands there is overwritten by the bytes that follow.
    std::uint8_t* dst = out;
    const std::uint8_t* src = out - d;
    out += len;
    if (d >= 8) {
      Copy8(dst, src);
      Copy8(dst + 8, src + 8);
      Copy8(dst + 16, src + 16);
      Copy8(dst + 24, src + 24);
      Copy8(dst + 32, src + 32);
      dst += 40;
      src += 40;
      while (dst < out) {
        Copy8(dst, src);
        dst += 8;
        src += 8;
      }
    } else if (d == 1) {
      const std::uint64_t v = 0x0101010101010101ull * *src;
      std::memcpy(dst, &v, 8);
      std::memcpy(dst + 8, &v, 8);
      dst += 16;
      while (dst < out) {
        std::memcpy(dst, &v, 8);
        dst += 8;
      }
    } else {
      // A word taken d bytes back holds d bytes already produced first:
      // store it and move on by d, so that the next word starts with them.
      Copy8(dst, src);
      dst += d;
      src += d;
      Copy8(dst, src);
      dst += d;
      src += d;
      while (dst < out) {
        Copy8(dst, src);
        dst += d;
        src += d;
      }
    }
  }
#undef QOR_REFILL
#undef QOR_CONSUME
#undef QOR_CONSUME_ENTRY
#undef QOR_VALUE

  bitbuf_ = bitbuf;
  bitsleft_ = bitsleft & 0xFF;
  inPos_ = in;
  remaining_ -= static_cast<std::uint32_t>(out - out_);
  out_ = out;
  return step;
}

Step Inflater::FastLoopGeneric(const std::uint32_t* litlen, const std::uint32_t* dist) {
  return FastLoopBody<false>(litlen, dist);
}

#if QOR_INFLATE_BMI2
// The same loop compiled for processors with BMI2, whose shifts by a
// variable count are single instructions without flag dependencies.
Step Inflater::FastLoopBmi2(const std::uint32_t* litlen, const std::uint32_t* dist) {
  return FastLoopBody<true>(litlen, dist);
}
#endif

Step Inflater::FastLoop(const std::uint32_t* litlen, const std::uint32_t* dist) {
#if QOR_INFLATE_BMI2
  if (!genericOnly_ && (CpuFeatures() & kCpuBmi2)) return FastLoopBmi2(litlen, dist);
#endif
  return FastLoopGeneric(litlen, dist);
}

// One symbol with every check: near the end of the input, of the room, or of
// the bytes wanted.
Step Inflater::SlowSymbol(const std::uint32_t* litlen, const std::uint32_t* dist) {
  RefillSlow();
  std::uint32_t e = litlen[bitbuf_ & ((1u << kLitlenTableBits) - 1)];
  if (e & kSubtable) {
    Drop(kLitlenTableBits);
    e = litlen[(e >> 16) + Bits((e >> 8) & 0xF)];
  }
  if (e & kLiteral) {
    Drop(e & 0xFF);
    if (FakeBitsUsed()) return Step::kFail;
    *out_++ = static_cast<std::uint8_t>(e >> 16);
    --remaining_;
    return Step::kContinue;
  }
  if (e & kExceptional) {
    if (!(e & kEndOfBlock)) return Step::kFail;
    Drop(e & 0xFF);
    return FakeBitsUsed() ? Step::kFail : Step::kBlockEnd;
  }
  std::uint32_t len = EntryValue(e, bitbuf_);
  Drop(e & 0xFF);

  e = dist[bitbuf_ & ((1u << kDistTableBits) - 1)];
  if ((e & kExceptional) && !(e & kSubtable)) return Step::kFail;
  if (e & kSubtable) {
    Drop(kDistTableBits);
    e = dist[(e >> 16) + Bits((e >> 8) & 0xF)];
    if (e & kExceptional) return Step::kFail;
  }
  const std::uint32_t d = EntryValue(e, bitbuf_);
  Drop(e & 0xFF);
  if (FakeBitsUsed()) return Step::kFail;

  if (len > remaining_) {
    if (!cutAtN_) return Step::kFail;  // the match runs past the end of the entry
    len = remaining_;
  }
  if (d > static_cast<std::uintptr_t>(out_ - base_)) return Step::kFail;
  if (Room() < len && !MakeRoom(len)) return Step::kFail;
  std::uint8_t* dst = out_;
  const std::uint8_t* src = out_ - d;
  for (std::uint32_t i = 0; i < len; ++i) dst[i] = src[i];
  out_ += len;
  remaining_ -= len;
  return Step::kContinue;
}

}  // namespace

int InflateEntry(Stream* in, Stream* out, std::uint32_t n, bool cutAtN) {
  return inflate_internal::InflateEntryWith(in, out, n, cutAtN, inflate_internal::FastLoop::kChosen);
}

int inflate_internal::InflateEntryWith(Stream* in, Stream* out, std::uint32_t n, bool cutAtN, FastLoop loop) {
  if (n == 0) return 0;
  std::unique_ptr<Workspace> ws(new (std::nothrow) Workspace);
  if (!ws) return 0;
  Inflater inflater(in, *ws, n, cutAtN, loop == FastLoop::kGeneric);
  if (!inflater.SetUpOutput(out)) return 0;
  inflater.SetUpInput(out);
  const int result = inflater.Run();
  inflater.LeaveInput();
  return result;
}

}  // namespace qor
