// The monitor's start mode, given with /monitor_start=.
#include "companions/monitor_start.h"

#include "system/installation_record.h"
#include "system/registry.h"
#include "system/registry_names.h"

namespace qor {

void WriteMonitorStartMode(int mode) {
  // The user's key first, then the machine's; a key that cannot be opened is
  // passed over in silence.
  for (int scope : {1, 2}) {
    RegKey key;
    if (OpenOrCreateKey(ProductKeyPathFor(kMonitorSubkey, scope), key))
      WriteDwordValue(key.get(), kMonitorStartupValue, static_cast<DWORD>(mode));
  }
}

}  // namespace qor
