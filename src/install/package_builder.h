// The authoring work: /pack writes a package, /build refreshes the sizes and
// checksums of one script section.
#pragma once

namespace qor {

class SetupApp;

bool BuildPackage(SetupApp& app);
bool RebuildSection(SetupApp& app);

}  // namespace qor
