// InflateEntry on arbitrary data and sizes.
//
// Input: bytes 0..3 the number of bytes wanted (little-endian, cut to at
// most 256 KiB), byte 4 options (bit 0: a cap rather than the entry's size;
// bits 1..7: the size of the reads of the read-ahead input), then the DEFLATE
// data.
//
// Besides the sanitizers, the target checks that
//  * the in-place path (MemoryStream in, MemoryStream out) and the general
//    path (read-ahead input, windowed output) agree on the result and bytes;
//  * both agree with the plain reference decoder (sizes up to 64 KiB);
//  * whatever zlib decodes completely, InflateEntry decodes to the same bytes
//    when asked for exactly that many.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "reference_inflate.h"
#include "test_streams.h"
#include "zip/inflate.h"
#include "zip/stream.h"
#include "zip_fixtures.h"

namespace {

using qor_test::Bytes;

void Fail(const char* what) {
  std::fprintf(stderr, "inflate_entry_fuzz: %s\n", what);
  std::abort();
}

struct Result {
  int ok;
  Bytes out;
};

Result InPlace(const Bytes& data, std::uint32_t n, bool cut) {
  qor::MemoryStream* in = nullptr;
  qor::MemoryStream* out = nullptr;
  qor::CreateMemoryStream(&in);
  qor::CreateMemoryStream(&out);
  in->Write(data.data(), static_cast<std::uint32_t>(data.size()));
  in->Seek(0, 0);
  Result r{qor::InflateEntry(in, out, n, cut), {}};
  r.out.assign(out->Data(), out->Data() + out->Size());
  in->Release();
  out->Release();
  return r;
}

Result General(const Bytes& data, std::uint32_t n, bool cut, std::uint32_t piece) {
  qor_test::ChunkedStream in(data.data(), data.size(), piece);
  qor_test::CollectingStream out;
  Result r{qor::InflateEntry(&in, &out, n, cut), {}};
  r.out = std::move(out.data);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The decoder's trace lines are not wanted here.
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < 5) return 0;
  const std::uint32_t n = (input[0] | input[1] << 8 | input[2] << 16 | static_cast<std::uint32_t>(input[3]) << 24) &
                          0x3FFFF;
  const bool cut = input[4] & 1;
  const std::uint32_t piece = 1u + (input[4] >> 1) * 97u;
  const Bytes data(input + 5, input + size);

  const Result a = InPlace(data, n, cut);
  const Result b = General(data, n, cut, piece);
  if (a.ok != b.ok) Fail("in-place and general paths disagree on the result");
  if (a.ok && a.out != b.out) Fail("in-place and general paths produced different bytes");
  if (a.ok && a.out.size() != n) Fail("success with a wrong number of bytes");

  if (n <= 65536) {
    const qor_test::ReferenceResult want = qor_test::ReferenceInflate(data, n, cut);
    if (want.ok != a.ok) Fail("disagrees with the reference decoder on the result");
    if (want.ok && want.out != a.out) Fail("disagrees with the reference decoder on the bytes");
  }

  Bytes viaZlib;
  if (qor_test::InflateRawZlib(data, viaZlib, 1u << 18) && !viaZlib.empty()) {
    const Result z = InPlace(data, static_cast<std::uint32_t>(viaZlib.size()), false);
    if (!z.ok || z.out != viaZlib) Fail("zlib decodes this stream, InflateEntry does not");
  }
  return 0;
}
