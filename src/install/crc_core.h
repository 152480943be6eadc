// Register update of the reflected CRC-32 (polynomial 0xEDB88320).
//
// CrcUpdate applies no inversion on entry or exit: callers choose the start
// value and whether to complement the result. The product files' checksum
// starts at 0xFFFFFFFF and is never inverted; the ZIP CRC-32 is the usual
// complemented form of the same register.
//
// Three implementations give bit-identical results for every length, alignment
// and split of the input:
//   - a portable one (braided table lookups), used everywhere;
//   - on x86 processors with PCLMULQDQ and SSE4.1, carry-less multiplication
//     folding (crc_core_x86.cpp), several times faster on large buffers;
//   - where the processor and the system also allow AVX-512F and VPCLMULQDQ,
//     the same folding four blocks to a register, on sixteen blocks at once.
// CrcUpdate picks one on its first call, by what CpuFeatures
// (install/cpu_features.h) reports, and keeps that choice for the rest of the
// process.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qor {

std::uint32_t CrcUpdate(std::uint32_t reg, const void* data, std::size_t len);

// The individual implementations, for tests and the benchmark. Code of the
// program calls CrcUpdate.
namespace crc_internal {

// The portable implementation; runs on any processor.
std::uint32_t CrcUpdatePortable(std::uint32_t reg, const void* data, std::size_t len);

// True when this build has the folding implementation and the processor and
// operating system can run it.
bool CrcFoldingUsable();

// The folding implementation. Call it only when CrcFoldingUsable() is true.
std::uint32_t CrcUpdateFolding(std::uint32_t reg, const void* data, std::size_t len);

// True when this build has the wide folding implementation and the processor
// and operating system can run it (the plain folding one is then usable too).
bool CrcWideFoldingUsable();

// The wide folding implementation. Call it only when CrcWideFoldingUsable() is true.
std::uint32_t CrcUpdateWideFolding(std::uint32_t reg, const void* data, std::size_t len);

// Short name of the implementation CrcUpdate uses: "avx512-folding",
// "pclmul-folding" or "portable-braided".
const char* CrcImplementationName();

}  // namespace crc_internal
}  // namespace qor
