// pack_bench: how fast /pack writes a package, against a plain concatenation
// of the same files with CopyFileA and ReadFile/WriteFile, in one run.
//
//   pack_bench.exe FOLDER [ROUNDS]
//
// FOLDER holds the stored files part01.dat, part02.dat, ... (as many as there
// are), qorapps.dat and nothing named setup.dat yet: the benchmark writes a
// setup.dat whose file table lists the parts with their sizes, loads it as
// the pack mode does and runs BuildPackage into FOLDER\out\package.exe. The
// reference copies the first part with CopyFileA and appends the others,
// qorapps.dat and setup.dat with ReadFile/WriteFile in 64 KiB steps. The best
// of ROUNDS (default 3) counts for each. Output: seconds, MB/s (10^6 bytes
// per second) and the ratio to the concatenation.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/setup_app.h"
#include "bench_support.h"
#include "install/file_checksum.h"
#include "install/package_builder.h"
#include "script/script_text.h"
#include "source/source_files.h"

namespace {

using bench::Now;

bool Append(HANDLE out, const std::string& path, char* buffer, DWORD chunk) {
  HANDLE in = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  DWORD got = 0, put = 0;
  while (ok && ReadFile(in, buffer, chunk, &got, nullptr) && got > 0)
    ok = WriteFile(out, buffer, got, &put, nullptr) && put == got;
  CloseHandle(in);
  return ok;
}

// The reference: the same bytes in the same order, with nothing else done.
bool Concatenate(const std::vector<std::string>& inputs, const std::string& target) {
  if (!CopyFileA(inputs[0].c_str(), target.c_str(), FALSE)) return false;
  HANDLE out = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(out, 0, nullptr, FILE_END);
  const DWORD chunk = 65536;
  std::unique_ptr<char[]> buffer(new char[chunk]);
  bool ok = true;
  for (std::size_t i = 1; ok && i < inputs.size(); ++i) ok = Append(out, inputs[i], buffer.get(), chunk);
  CloseHandle(out);
  return ok;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
  HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
  CloseHandle(out);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder, out;
  int rounds = 0;
  if (!bench::ReadArguments(argc, argv, "pack_bench", folder, out, rounds)) return 2;

  // The script: every part with its stored size, as a made product lists it.
  std::string text = "[Setup Data File]\r\n[Version1]\r\n[FILES]\r\n";
  std::vector<std::string> inputs;
  double total = 0;
  for (int n = 1;; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "part%02d.dat", n);
    std::uint32_t checksum = 0;
    std::int32_t size = 0;
    if (!qor::FileChecksum((folder + name).c_str(), checksum, size)) break;
    char line[160];
    std::snprintf(line, sizeof line, "\"Part\",\"%s\",%d,0x%X,\"%s\",%d,0x%X\r\n", name, static_cast<int>(size),
                  static_cast<unsigned>(checksum), name, static_cast<int>(size), static_cast<unsigned>(checksum));
    text += line;
    inputs.push_back(folder + name);
    total += size;
  }
  text += "[END]\r\n";
  std::string script = text + qor::ChecksumTail(qor::ScriptChecksum(text.data(), text.size()));
  inputs.push_back(folder + "qorapps.dat");
  inputs.push_back(folder + "setup.dat");
  std::uint32_t ignored;
  std::int32_t companionSize = 0;
  if (inputs.size() < 3 || !qor::FileChecksum(inputs[inputs.size() - 2].c_str(), ignored, companionSize) ||
      !WriteWhole(inputs.back(), script)) {
    std::fprintf(stderr, "%s needs part01.dat... and qorapps.dat\n", folder.c_str());
    return 1;
  }
  total += companionSize + static_cast<double>(script.size());

  qor::SetupApp app;
  app.quietMode = true;
  app.packMode = true;
  app.sourceKind = qor::kSourceLocal;
  app.sourcePath = folder;
  app.packOutput = out + "package.exe";
  qor::ScriptLoadOptions options;
  options.keepFile = true;
  if (!app.script.Load(script, options) || !app.fileTable.LoadFileTable(app.script)) {
    std::fprintf(stderr, "the benchmark's script does not load\n");
    return 1;
  }
  qor::OpenSource(app);

  std::string reference = out + "concatenated.bin";
  double best[2] = {1e30, 1e30};
  for (int round = 0; round < rounds; ++round) {
    double start = Now();
    bool ok = Concatenate(inputs, reference);
    double seconds = Now() - start;
    DeleteFileA(reference.c_str());
    if (!ok) {
      std::fprintf(stderr, "the concatenation failed\n");
      return 1;
    }
    if (seconds < best[0]) best[0] = seconds;

    start = Now();
    ok = qor::BuildPackage(app);
    seconds = Now() - start;
    DeleteFileA(app.packOutput.c_str());
    if (!ok) {
      std::fprintf(stderr, "BuildPackage failed\n");
      return 1;
    }
    if (seconds < best[1]) best[1] = seconds;
  }
  qor::CloseSource(app);
  RemoveDirectoryA(out.c_str());

  double mb = total / 1e6;
  std::printf("package of %zu entries, %.0f bytes (%.1f MiB); best of %d rounds\n", inputs.size(), total,
              total / 1048576.0, rounds);
  std::printf("%-34s %10s %10s %8s\n", "", "seconds", "MB/s", "ratio");
  const char* names[2] = {"CopyFileA + ReadFile/WriteFile", "BuildPackage (/pack)"};
  for (int i = 0; i < 2; ++i)
    std::printf("%-34s %10.3f %10.1f %8.2f\n", names[i], best[i], mb / best[i], best[0] / best[i]);
  return 0;
}
