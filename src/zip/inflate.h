// DEFLATE (RFC 1951) decoding of ZIP entries, and the ZIP CRC-32.
#pragma once
#include <cstddef>
#include <cstdint>

#include "zip/stream.h"

namespace qor {

// Decodes the DEFLATE data that starts at in's position into out, producing
// exactly n bytes: 1 when all n were produced and out took them, 0 otherwise.
// Decoding is driven by n alone and stops as soon as n bytes exist, even
// inside a block. It fails for n = 0, for data that is not valid for n bytes
// (bad codes, a stored block whose NLEN is not the complement of its LEN,
// a match reaching before the first byte or beyond the n-th, a broken
// code-length sequence, a reserved block type, bits needed beyond the end of
// the input, blocks wanted after the final one) and when memory runs out.
// A stored block at least as long as what remains ends the entry
// successfully.
//
// Trace lines on standard output, in this order as blocks are met:
//   "blok fixed.... " / "blok dynamiczny.... " when a Huffman block starts,
//   "koniec bloku fixed" / "koniec bloku dynamic" when one reaches its end,
//   "wcztyano blok 00 o wielkosci=<LEN>  beda nastepne..." after a stored
//   block, "wczytano <count> bajtow z bloku 00...wychodze...." when a stored
//   block ends the entry, "blad bloku 00: NLEN nie jest dopelnieniem LEN"
//   for a bad stored block. They are flushed in batches, at the latest when
//   the call returns.
//
// With cutAtN, n is a cap rather than the entry's size: a match that runs
// past the n-th byte is cut there instead of failing.
//
// A MemoryStream input is read in place and left after the last byte used;
// any other input is read ahead in large pieces, so its position afterwards
// is unspecified. Output reaches out in large writes, or, when out is a
// MemoryStream positioned at or past its end, is decoded straight into it.
// On failure out may have received part of the bytes.
int InflateEntry(Stream* in, Stream* out, std::uint32_t n, bool cutAtN = false);

// CRC-32 of the ZIP format: reflected polynomial 0xEDB88320, register preset
// to 0xFFFFFFFF, result complemented. "abc" gives 0x352441C2.
std::uint32_t Crc32(const void* data, std::size_t length);

namespace inflate_internal {

// Which loop decodes the bulk of a Huffman block: the one chosen for this
// processor, or the generic one that every processor (and the 32-bit
// program) runs. For the benchmark and the tests; the program calls
// InflateEntry.
enum class FastLoop { kChosen, kGeneric };

// InflateEntry with the fast loop given.
int InflateEntryWith(Stream* in, Stream* out, std::uint32_t n, bool cutAtN, FastLoop loop);

}  // namespace inflate_internal
}  // namespace qor
