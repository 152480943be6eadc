// The command-line scanner.
//
// The scanner walks the argument text (what follows the program name) from
// slash to slash and compares each switch word, ignoring case, with the switch
// table as a prefix test, so "/QUIET" and "/quietly" both act as "/quiet".
// Bytes are unsigned: a Windows-1250 letter (0x80 and up) is an ordinary
// character, never a terminator. Anything a switch does outside the run's
// settings (waiting for a process, asking a drive's type, showing the /calc
// report, the uninstall) goes through CommandLinePlatform, so the scanner
// itself needs no Windows.
#pragma once

#include <cstdint>
#include <string>

#include "app/setup_app.h"

namespace qor {

class CommandLinePlatform {
 public:
  virtual ~CommandLinePlatform() = default;
  // /copy_process_file: wait at most 5000 ms for the process when its id was
  // read, then copy `from` over `to`; a failed copy is not reported.
  virtual void CopyProcessFile(bool havePid, std::uint32_t pid, const std::string& from,
                               const std::string& to) = 0;
  // /netaltinst=: true when the root named by three characters ("D:\") is a
  // fixed disk. Unknown or invalid roots are not fixed.
  virtual bool IsFixedDrive(const std::string& root) = 0;
  // /calc: the size-and-checksum report of one file.
  virtual void ShowChecksumReport(const std::string& fileName) = 0;
  // /uninstall, once the whole text has been read.
  virtual void RunUninstall() = 0;
};

// Reads every switch of args into app. Returns 1 to go on with the run, 0 to
// stop the program now (exit code 0): after /calc, /uninstall, or a malformed
// /build or /pack.
int ScanCommandLine(SetupApp& app, const char* args, CommandLinePlatform& platform);

// The switches that shaped this run, for a setup program that takes the run
// over (the hand-over to a newer copy, the start of the installed copy):
// /quiet, /noautostart, every /def= name, the source (/src= or /srcinst=, and
// /netinst for a network installation) and /inst=. Each switch is preceded by
// a space; empty when there is nothing to pass on. ScanCommandLine reads the
// text back into the same settings.
std::string ForwardedSwitches(const SetupApp& app);

// The argument text of a whole command line: what follows the program name
// (either quoted or ending at the first blank) and the blanks after it, as
// the start-up code hands it to a Windows program's entry point.
const char* SkipProgramName(const char* commandLine);

}  // namespace qor
