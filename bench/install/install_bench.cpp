// install_bench: how fast the installer puts one large file in place, against
// the platform's own CopyFileA on the same file, in one run.
//
//   install_bench.exe FOLDER [ROUNDS]
//
// FOLDER holds big.dat (the file as installed) and big.da_ (its SZDD form).
// Each round, in turn: CopyFileA of big.dat; InstallFile of big.dat stored as
// is; InstallFile of big.da_ (LZ expansion). InstallFile is the installer's
// own copy: read from the source in 32 KiB steps with the cancel check, write,
// then read the written file back for the size and checksum verification.
// The components are timed too, to show what limits the copy: reading the
// source, FileChecksum alone, LZ expansion alone, a plain 32 KiB copy with
// the C runtime (and in larger steps, to show what the step size costs),
// InstallFile without the verification, and the cancel check made once per
// 32 KiB. The best of ROUNDS (default 3) counts for each. Output: one line
// per measurement with MB/s (10^6 bytes per second) and the ratio to
// CopyFileA.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/setup_app.h"
#include "bench_support.h"
#include "install/file_checksum.h"
#include "install/install_file.h"
#include "script/file_table.h"
#include "source/source_files.h"

namespace {

using bench::Now;

struct Measurement {
  const char* name;
  std::function<bool()> run;
  std::function<void()> cleanUp;
  double best = 1e30;
};

// Reads a file in 32 KiB steps, as the installer's copy reads its source.
bool ReadAll(const std::string& path) {
  int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) return false;
  std::unique_ptr<char[]> buffer(new char[32768]);
  while (_read(fd, buffer.get(), 32768) > 0) {
  }
  _close(fd);
  return true;
}

// Copies a file in steps of chunk bytes (32 KiB, as the installer's copy
// moves its bytes) with the C runtime, without the cancel check and the
// verification.
bool CopyPlain(const std::string& from, const std::string& to, unsigned chunk = 32768) {
  int in = _open(from.c_str(), _O_RDONLY | _O_BINARY);
  if (in < 0) return false;
  int out = _open(to.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_SEQUENTIAL, 0600);
  if (out < 0) {
    _close(in);
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[chunk]);
  bool ok = true;
  int n;
  while ((n = _read(in, buffer.get(), chunk)) > 0) {
    if (_write(out, buffer.get(), n) != n) {
      ok = false;
      break;
    }
  }
  _close(in);
  _close(out);
  return ok;
}

// Reads a file through the source layer with expansion, writing nothing.
bool ExpandAll(qor::SetupApp& app, const std::string& name) {
  int handle = qor::OpenSourceFile(app, qor::SourceFilePath(app, name), qor::SourceReading::kExpanded, 0, nullptr);
  if (handle == -1) return false;
  std::unique_ptr<char[]> buffer(new char[32768]);
  while (qor::ReadSourceFile(app, handle, buffer.get(), 32768) > 0) {
  }
  qor::CloseSourceFile(app, handle);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder, out;
  int rounds = 0;
  if (!bench::ReadArguments(argc, argv, "install_bench", folder, out, rounds)) return 2;
  std::string stored = folder + "big.dat";

  std::uint32_t checksum = 0, packedChecksum = 0;
  std::int32_t size = 0, packedSize = 0;
  if (!qor::FileChecksum(stored.c_str(), checksum, size) ||
      !qor::FileChecksum((folder + "big.da_").c_str(), packedChecksum, packedSize)) {
    std::fprintf(stderr, "cannot read %sbig.dat and big.da_\n", folder.c_str());
    return 1;
  }

  qor::SetupApp app;
  app.quietMode = true;
  app.sourceKind = qor::kSourceLocal;
  app.sourcePath = folder;
  app.installPath = out;
  app.fileTable.SetInstallPath(out);
  qor::OpenSource(app);

  qor::FileRecord plain;
  plain.installedName = "big.dat";
  plain.size = size;
  plain.checksum = checksum;
  plain.compressedName = "big.dat";
  plain.compressedSize = size;
  qor::FileRecord unverified = plain;
  unverified.size = 0;
  qor::FileRecord packed = plain;
  packed.compressedName = "big.da_";
  packed.compressedSize = packedSize;

  std::string target = out + "big.dat";
  auto removeTarget = [&] { DeleteFileA(target.c_str()); };
  std::vector<Measurement> measurements = {
      {"CopyFileA", [&] { return CopyFileA(stored.c_str(), target.c_str(), FALSE) != 0; }, removeTarget},
      {"InstallFile, stored", [&] { return qor::InstallFile(app, plain); }, removeTarget},
      {"InstallFile, SZDD", [&] { return qor::InstallFile(app, packed); }, removeTarget},
      {"  InstallFile, no verify", [&] { return qor::InstallFile(app, unverified); }, removeTarget},
      {"  read source (32 KiB)", [&] { return ReadAll(stored); }, [] {}},
      {"  FileChecksum",
       [&] {
         std::uint32_t c;
         std::int32_t s;
         return qor::FileChecksum(stored.c_str(), c, s) && c == checksum;
       },
       [] {}},
      {"  LZ expansion alone", [&] { return ExpandAll(app, "big.da_"); }, [] {}},
      {"  copy 32 KiB _read/_write", [&] { return CopyPlain(stored, target); }, removeTarget},
      {"  copy 64 KiB _read/_write", [&] { return CopyPlain(stored, target, 65536); }, removeTarget},
      {"  copy 256 KiB _read/_write", [&] { return CopyPlain(stored, target, 262144); }, removeTarget},
      {"  copy 1 MiB _read/_write", [&] { return CopyPlain(stored, target, 1048576); }, removeTarget},
      {"  PollAbort per 32 KiB",
       [&] {
         for (std::int32_t done = 0; done < size; done += 32768) app.PollAbort();
         return true;
       },
       [] {}},
  };

  for (int round = 0; round < rounds; ++round) {
    for (Measurement& m : measurements) {
      m.cleanUp();
      double start = Now();
      bool ok = m.run();
      double seconds = Now() - start;
      m.cleanUp();
      if (!ok) {
        std::fprintf(stderr, "%s failed\n", m.name);
        return 1;
      }
      if (seconds < m.best) m.best = seconds;
    }
  }
  qor::CloseSource(app);

  double mb = size / 1e6;
  double reference = mb / measurements[0].best;
  std::printf("file: %d bytes (%.1f MiB), SZDD form %d bytes; best of %d rounds\n", size, size / 1048576.0,
              packedSize, rounds);
  std::printf("%-28s %10s %10s %8s\n", "", "seconds", "MB/s", "ratio");
  for (const Measurement& m : measurements) {
    double rate = mb / m.best;
    std::printf("%-28s %10.3f %10.1f %8.2f\n", m.name, m.best, rate, rate / reference);
  }
  return 0;
}
