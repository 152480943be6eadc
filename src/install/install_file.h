// Putting product files on disk: one record copied from the source with
// expansion, written, and verified by size and checksum; the loop over all
// outdated files; folders with their parents.
#pragma once

#include <cstdint>
#include <string>

#include "source/source_files.h"

namespace qor {

class SetupApp;
struct FileRecord;

// Where the copy of one record's file goes: the installed file, or the
// package being written. The copy loop (CopyFromSource) is the same for both;
// what differs is said here.
class CopyDestination {
 public:
  virtual ~CopyDestination() = default;
  // The result for a record that names no stored file; shows its own message
  // when that is a failure.
  virtual bool WithoutStoredFile(SetupApp& app, const FileRecord& record) = 0;
  // How the source is read.
  virtual SourceReading Reading() const = 0;
  // The operation caption while the bytes are copied.
  virtual const char* Operation() const = 0;
  // The path shown as the progress window's target line.
  virtual const std::string& TargetPath() const = 0;
  // Makes the destination ready for the bytes; false when it cannot be
  // written (the caller reports a write error).
  virtual bool Open() = 0;
  virtual bool Write(const void* bytes, std::uint32_t count) = 0;
  // Ends the writing; discard says the copy is incomplete (a write error or a
  // cancel), so that what was written goes again.
  virtual void Close(bool discard) = 0;
  // After a complete copy: checks what arrived and settles it. False after it
  // has shown why.
  virtual bool Finish(SetupApp& app, const FileRecord& record) = 0;
};

// A record's installed file. A target in use is written under its in-use name
// "<target>(new)" and replaced at the next restart; the result is verified by
// size and checksum when the record gives a size.
class InstalledFileDestination final : public CopyDestination {
 public:
  InstalledFileDestination(const SetupApp& app, const FileRecord& record);
  ~InstalledFileDestination() override;

  bool WithoutStoredFile(SetupApp& app, const FileRecord& record) override;
  SourceReading Reading() const override { return SourceReading::kExpanded; }
  const char* Operation() const override { return "Kopiowanie"; }
  const std::string& TargetPath() const override { return target_; }
  bool Open() override;
  bool Write(const void* bytes, std::uint32_t count) override;
  void Close(bool discard) override;
  bool Finish(SetupApp& app, const FileRecord& record) override;

 private:
  std::string target_;
  std::string written_;  // the target, or its in-use name
  bool inUse_ = false;
  int descriptor_ = -1;
};

// The package being written by /pack: the stored file is appended to the open
// package file as it is; a record without a stored file has nothing to add.
class PackageDestination final : public CopyDestination {
 public:
  explicit PackageDestination(const SetupApp& app);

  bool WithoutStoredFile(SetupApp&, const FileRecord&) override { return true; }
  SourceReading Reading() const override { return SourceReading::kAsStored; }
  const char* Operation() const override { return "Kompresja"; }
  const std::string& TargetPath() const override { return path_; }
  bool Open() override { return true; }  // the package is open already
  bool Write(const void* bytes, std::uint32_t count) override;
  void Close(bool) override {}  // the package stays open for the next file
  bool Finish(SetupApp&, const FileRecord&) override { return true; }

 private:
  const std::string& path_;
  int descriptor_;
};

// Copies one record's file from the source into destination, with the
// progress window following. Shows its own message and marks the session
// failed on every failure except a cancel.
bool CopyFromSource(SetupApp& app, const FileRecord& record, CopyDestination& destination);

// Copies one file of the table from the source to its installed path or, in
// the package-building mode, into the package.
bool InstallFile(SetupApp& app, FileRecord& record);
// Every record after the setup program that is not up to date; after a
// failure asks whether to go on.
bool InstallAllFiles(SetupApp& app);
// Creates path and its missing parents (never a drive root). fullPath, when
// given, receives the resolved full path.
bool CreateDirectoryPath(const std::string& path, std::string* fullPath);
// The install folder, with its full path put back into installPath; nothing
// to do for a network installation.
bool CreateInstallDirectory(SetupApp& app);

}  // namespace qor
