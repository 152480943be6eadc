#include "install/cpu_features.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "install/crc_core.h"

namespace {

using qor::cpu_internal::ParseDisabledCpuFeatures;

TEST(CpuFeatures, DisabledNamesAreParsed) {
  const unsigned all = qor::kCpuPclmul | qor::kCpuSse41 | qor::kCpuBmi2 | qor::kCpuAvx512Clmul;
  struct Case {
    const char* names;
    unsigned disabled;
  } cases[] = {
      {nullptr, 0},
      {"", 0},
      {"bmi2", qor::kCpuBmi2},
      {"pclmul,sse4.1", qor::kCpuPclmul | qor::kCpuSse41},
      {"all", all},
      {"bmi2,,pclmul,", qor::kCpuBmi2 | qor::kCpuPclmul},  // empty names are skipped
      {"bmi", 0},                                        // only whole names count
      {"bmi22", 0},
      {"avx2,bmi2", qor::kCpuBmi2},                      // unknown names are ignored
      {"avx512", qor::kCpuAvx512Clmul},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseDisabledCpuFeatures(c.names), c.disabled) << (c.names ? c.names : "(null)");
}

// The test run registered with QOR_DISABLE_CPU_FEATURES=all must really take
// the portable paths, or it would test nothing new.
TEST(CpuFeatures, SwitchedOffFeaturesAreNotReported) {
  const char* off = std::getenv("QOR_DISABLE_CPU_FEATURES");
  if (!off || std::strcmp(off, "all") != 0) GTEST_SKIP() << "QOR_DISABLE_CPU_FEATURES is not \"all\"";
  EXPECT_EQ(qor::CpuFeatures(), 0u);
  EXPECT_STREQ(qor::crc_internal::CrcImplementationName(), "portable-braided");
}

}  // namespace
