// Message boxes and string resources of the program. Every message box is
// captioned with the application title (string resource 57344).
#pragma once

#include <string>

namespace qor {

// A string from the program's string table; empty when missing.
std::string ResourceString(unsigned id);
// "Qor_Vex - program instalacyjny".
const std::string& AppTitle();
// MessageBoxA with the application title as caption; returns the button id.
// style is a combination of MB_* flags.
int ShowMessage(const std::string& text, unsigned style);

}  // namespace qor
