// The processor features that the fast paths of the checksum core
// (install/crc_core_x86.cpp) and of the inflate decoder (zip/inflate.cpp)
// need: the one place in the program that asks the processor.
//
// Native test builds also read the environment variable
// QOR_DISABLE_CPU_FEATURES, a comma-separated list of feature names
// ("pclmul", "sse4.1", "bmi2", "avx512") or "all", and report those features absent, so
// that a test run takes the portable paths that a processor without them,
// and the 32-bit program, take. The shipped program never reads it.
#pragma once

namespace qor {

enum CpuFeature : unsigned {
  kCpuPclmul = 1u << 0,  // carry-less multiplication (PCLMULQDQ)
  kCpuSse41 = 1u << 1,   // SSE4.1
  kCpuBmi2 = 1u << 2,    // BMI2's flagless shifts (SHLX, SHRX)
  // AVX-512F with VPCLMULQDQ: carry-less multiplication on all four lanes of
  // a 512-bit register, the system saving those registers.
  kCpuAvx512Clmul = 1u << 3,
};

// The features of this processor that this system lets a program use (on a
// 32-bit system the SSE ones only when it keeps the SSE registers across task
// switches; the AVX-512 one only when the system keeps the 512-bit registers). Found on the first call, then kept.
unsigned CpuFeatures();

namespace cpu_internal {

// The features named in a QOR_DISABLE_CPU_FEATURES value; unknown names are
// ignored, null or "" names none.
unsigned ParseDisabledCpuFeatures(const char* names);

}  // namespace cpu_internal
}  // namespace qor
