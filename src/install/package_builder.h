// The authoring work: /pack writes a package, /build refreshes the sizes and
// checksums of one script section.
#pragma once

namespace qor {

class SetupApp;

// Writes the package (install/package.h) to app.packOutput from the source
// folder: the stored files of the file table, "qorapps.dat", then the script
// file as read. app.packageFile is the open output while the entries are
// copied and -1 again on return. Fails, marking the session failed, without
// touching anything when the output names one of the inputs; fails and
// deletes the output when an entry cannot be copied whole or a stored file's
// length differs from the non-zero size its record gives.
bool BuildPackage(SetupApp& app);
// Rewrites the sizes and checksums of the lines of app.buildSection in the
// loaded, unresolved script from the installed files (app.installPath) and
// the stored files (the source folder); pairs written as 0 and 0x0 stay.
// False for a missing section, a line it cannot read (a conditional line or a
// role reference among them), or a file it cannot read (after its message).
bool RebuildSection(SetupApp& app);

}  // namespace qor
