#include "app/command_line.h"

#include <cstring>

#include "script/script_text.h"

namespace qor {
namespace {

using Byte = unsigned char;

inline Byte At(const char* p) { return static_cast<Byte>(*p); }
inline Byte Lower(Byte c) { return (c >= 'A' && c <= 'Z') ? static_cast<Byte>(c + 32) : c; }

// True when the text at p begins with the switch word (ignoring ASCII case).
bool Matches(const char* p, const char* word, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) {
    if (At(p + i) == 0 || Lower(At(p + i)) != Lower(static_cast<Byte>(word[i]))) return false;
  }
  return true;
}

// A quoted value right at p: the bytes up to the next double quote (consumed)
// or the end of the text. False, with p untouched, when p is not a quote.
bool ReadQuotedValue(const char*& p, std::string& value) {
  if (*p != '"') return false;
  const char* start = ++p;
  while (*p && *p != '"') ++p;
  value.assign(start, p);
  if (*p == '"') ++p;
  return true;
}

// /def=NAME, /def="NAME": appends a non-empty name to the defined-names block.
void ReadDefinedName(SetupApp& app, const char*& p) {
  std::string name;
  if (*p == '"') {
    ++p;
    while (At(p) > ' ' && *p != '"') name += *p++;
    if (*p == '"') ++p;
  } else {
    while (At(p) > ' ' && *p != '/') name += *p++;
    if (*p == '/') ++p;  // consumed: a switch glued to the name is lost
  }
  AppendDefinedName(app.definedNames, name);  // an empty name is ignored
}

// /copy_process_file,<hex id>d,"from","to". False when the text is malformed.
bool ReadCopyProcessFile(SetupApp& app, const char*& p, CommandLinePlatform& platform) {
  const char* comma = std::strchr(p, ',');
  if (!comma) return false;
  p = comma + 1;
  std::uint32_t pid = 0;
  bool havePid = false;
  for (;;) {
    Byte c = Lower(At(p));
    int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    // The writer appends 'd' after the id; it is a hex digit itself, so the
    // id ends where 'd' is followed by the comma.
    if (digit < 0 || (c == 'd' && p[1] == ',')) break;
    pid = pid * 16 + static_cast<std::uint32_t>(digit);
    havePid = true;
    ++p;
  }
  comma = std::strchr(p, ',');
  if (!comma || comma[1] != '"') return false;
  const char* from = comma + 2;
  const char* fromEnd = std::strchr(from, '"');
  if (!fromEnd || fromEnd[1] != ',' || fromEnd[2] != '"') return false;
  const char* to = fromEnd + 3;
  const char* toEnd = std::strchr(to, '"');
  if (!toEnd) return false;
  platform.CopyProcessFile(havePid, pid, std::string(from, fromEnd), std::string(to, toEnd));
  app.skipSettings = true;
  p = toEnd;  // scanning resumes at the closing quote
  return true;
}

// Reads `count` double-quoted values separated by commas (blanks allowed
// around the commas) for /build and /pack. True when the last value ended
// with its double quote.
bool ReadAuthoringValues(const char*& p, std::string* values[], int count) {
  while (*p != '"') {
    if (At(p) < ' ') return false;
    ++p;
  }
  for (int i = 0; i < count; ++i) {
    ++p;  // the opening double quote
    const char* start = p;
    while (*p != '"' && At(p) >= ' ') ++p;
    values[i]->assign(start, p);
    if (*p != '"') return false;
    ++p;
    if (i == count - 1) return true;
    while (*p == ' ') ++p;
    if (*p != ',') return false;
    ++p;
    while (*p == ' ') ++p;
    if (*p != '"') return false;
  }
  return true;
}

// A quoted switch value: the scanner takes every byte up to the next double
// quote, so a value holding one cannot be passed (no Windows path does).
void AppendQuoted(std::string& out, const char* name, const std::string& value) {
  if (value.find('"') != std::string::npos) return;
  out += ' ';
  out += name;
  out += '"';
  out += value;
  out += '"';
}

}  // namespace

std::string ForwardedSwitches(const SetupApp& app) {
  std::string out;
  if (app.quietMode) out += " /quiet";
  if (app.noAutostart) out += " /noautostart";
  const std::string& block = app.definedNames;
  for (std::size_t i = 0; i < block.size() && block[i] != '\0';) {
    std::size_t end = block.find('\0', i);
    if (end == std::string::npos) end = block.size();
    const std::string name = block.substr(i, end - i);
    // The quoted form ends a name at a double quote, the bare form at a
    // slash; a name read from either form holds at most one of the two.
    if (name.find('"') == std::string::npos)
      out += " /def=\"" + name + "\"";
    else
      out += " /def=" + name;
    i = end + 1;
  }
  if (app.sourceKind == kSourceLocal || app.sourceKind == kSourceNetwork) {
    if (!app.sourcePath.empty()) AppendQuoted(out, app.sourceIsInstalled ? "/srcinst=" : "/src=", app.sourcePath);
    if (app.sourceKind == kSourceNetwork) out += " /netinst";
  }
  if (!app.installPath.empty()) AppendQuoted(out, "/inst=", app.installPath);
  return out;
}

const char* SkipProgramName(const char* commandLine) {
  const char* p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (At(p) > ' ') ++p;
  }
  while (*p && At(p) <= ' ') ++p;  // spaces, tabs and other control bytes
  return p;
}

int ScanCommandLine(SetupApp& app, const char* args, CommandLinePlatform& platform) {
  const char* p = args;
  bool uninstall = false;
  bool unmatchedSlash = false;  // the last pass stopped at a slash no switch matched
  for (;;) {
    if (unmatchedSlash) {
      while (At(p) > ' ') ++p;  // skip the unknown switch word
      unmatchedSlash = false;
    }
    while (*p != '/' && At(p) >= ' ') ++p;
    if (*p != '/') break;

    if (Matches(p, "/monitor_start=", 15)) {
      p += 15;
      if (*p >= '1' && *p <= '3') app.monitorStart = *p - '0';
      // The other switches are still compared here, after the '=', where none
      // of them can match; the next pass goes on from this point.
      continue;
    }
    if (Matches(p, "/copy_process_file", 18)) {
      p += 18;
      if (!ReadCopyProcessFile(app, p, platform)) break;
    } else if (Matches(p, "/def=", 5)) {
      p += 5;
      ReadDefinedName(app, p);
    } else if (Matches(p, "/src=", 5)) {
      p += 5;
      std::string value;
      if (ReadQuotedValue(p, value)) {
        app.sourcePath = value;
        app.sourceKind = kSourceLocal;
      }
    } else if (Matches(p, "/srcinst=", 9)) {
      p += 9;
      std::string value;
      if (ReadQuotedValue(p, value)) {
        app.sourcePath = value;
        app.sourceKind = kSourceLocal;
        app.sourceIsInstalled = true;
      }
    } else if (Matches(p, "/inst=", 6)) {
      p += 6;
      std::string value;
      if (ReadQuotedValue(p, value)) app.installPath = value;
    } else if (Matches(p, "/netinst", 8)) {
      p += 8;
      app.sourceKind = kSourceNetwork;
      app.installPath = app.sourcePath;
    } else if (Matches(p, "/netaltinst=", 12)) {
      p += 12;
      std::string value;
      if (ReadQuotedValue(p, value)) {
        app.installPath = value;
        if (value.size() >= 3 && value[1] == ':' && value[2] == '\\' &&
            !platform.IsFixedDrive(value.substr(0, 3))) {
          app.installPath = app.sourcePath;
          app.sourceKind = kSourceNetwork;
        }
      }
    } else if (Matches(p, "/quiet", 6)) {
      p += 6;
      app.quietMode = true;
    } else if (Matches(p, "/qor_mail", 9)) {
      p += 9;  // accepted for older callers; no effect
    } else if (Matches(p, "/uninstall", 10)) {
      p += 10;
      uninstall = true;
    } else if (Matches(p, "/no_uninstall_pop3", 18)) {
      p += 18;
      app.noUninstallPop3 = true;
    } else if (Matches(p, "/skipsettings", 13)) {
      p += 13;
      app.skipSettings = true;
    } else if (Matches(p, "/noautostart", 12)) {
      p += 12;
      app.noAutostart = true;
    } else if (Matches(p, "/calc", 5)) {
      p += 5;
      if (*p == '"') ++p;
      const char* start = p;
      while (At(p) > ' ' && *p != '"') ++p;
      platform.ShowChecksumReport(std::string(start, p));
      return 0;
    } else if (Matches(p, "/build", 6)) {
      p += 6;
      app.buildMode = true;
      app.sourceKind = kSourceLocal;
      std::string* values[] = {&app.sourcePath, &app.installPath, &app.buildScript, &app.buildSection};
      return ReadAuthoringValues(p, values, 4) ? 1 : 0;
    } else if (Matches(p, "/pack", 5)) {
      p += 5;
      app.packMode = true;
      app.sourceKind = kSourceLocal;
      app.internetPackage = (*p == '2');
      if (app.internetPackage) ++p;
      std::string* values[] = {&app.sourcePath, &app.packOutput};
      return ReadAuthoringValues(p, values, 2) ? 1 : 0;
    } else {
      unmatchedSlash = true;
    }
  }
  if (uninstall) {
    platform.RunUninstall();
    return 0;
  }
  return 1;
}

}  // namespace qor
