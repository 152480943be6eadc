#include "install/cpu_features.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace qor {
namespace {

unsigned DetectCpuFeatures() {
  unsigned features = 0;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  // __get_cpuid also finds out whether the processor has CPUID at all (a 386
  // or an early 486 has not).
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  // XCR0, readable once the system has enabled XSAVE, says which register
  // state the system saves across task switches.
  unsigned xcr0 = 0;
  if (c & bit_OSXSAVE) {
    unsigned xcr0_hi = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0_hi) : "c"(0));
  }
  bool sseKept = true;
#if defined(__i386__)
  // A 32-bit system need not save the XMM registers across task switches, and
  // where it does not even enable them (Windows 95), SSE instructions fault.
  // XCR0 bit 1 (SSE state) proves that it keeps them. Systems without XSAVE
  // get no SSE features.
  sseKept = (xcr0 & 2) != 0;
#endif
  if (sseKept && (c & bit_PCLMUL)) features |= kCpuPclmul;
  if (sseKept && (c & bit_SSE4_1)) features |= kCpuSse41;
  // The 512-bit registers need the SSE, AVX, mask and upper ZMM states kept
  // (XCR0 bits 1, 2, 5, 6 and 7), whatever the width of the system.
  const bool zmmKept = (xcr0 & 0xE6) == 0xE6;
  const bool pclmul = (c & bit_PCLMUL) != 0;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    // BMI2 works on general registers only: no help from the system needed.
    if (b & bit_BMI2) features |= kCpuBmi2;
    if (zmmKept && pclmul && (b & bit_AVX512F) && (c & bit_VPCLMULQDQ)) features |= kCpuAvx512Clmul;
  }
#endif
  return features;
}

}  // namespace

namespace cpu_internal {

unsigned ParseDisabledCpuFeatures(const char* names) {
  static const struct {
    const char* name;
    unsigned feature;
  } kNames[] = {
      {"pclmul", kCpuPclmul},
      {"sse4.1", kCpuSse41},
      {"bmi2", kCpuBmi2},
      {"avx512", kCpuAvx512Clmul},
      {"all", kCpuPclmul | kCpuSse41 | kCpuBmi2 | kCpuAvx512Clmul},
  };
  unsigned disabled = 0;
  if (!names) return 0;
  while (*names) {
    const char* end = std::strchr(names, ',');
    const std::size_t length = end ? static_cast<std::size_t>(end - names) : std::strlen(names);
    for (const auto& n : kNames)
      if (std::strlen(n.name) == length && std::strncmp(n.name, names, length) == 0) disabled |= n.feature;
    names += length;
    if (*names == ',') ++names;
  }
  return disabled;
}

}  // namespace cpu_internal

unsigned CpuFeatures() {
  // Racing first calls find the same features and store the same value, so
  // the answer needs no lock; afterwards each call is one load.
  static constexpr unsigned kNotYetFound = ~0u;
  static std::atomic<unsigned> features{kNotYetFound};
  unsigned found = features.load(std::memory_order_relaxed);
  if (found == kNotYetFound) {
    found = DetectCpuFeatures();
#ifdef QOR_CPU_FEATURES_FROM_ENVIRONMENT
    found &= ~cpu_internal::ParseDisabledCpuFeatures(std::getenv("QOR_DISABLE_CPU_FEATURES"));
#endif
    features.store(found, std::memory_order_relaxed);
  }
  return found;
}

}  // namespace qor
