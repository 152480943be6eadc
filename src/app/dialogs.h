// The modal dialogs of the session: welcome, settings, mail-scanner prompt and
// result. Each is a top-level window (the program has no main window), lives
// for one Show() call and returns the id of the button that closed it:
// kDialogContinue for the default button, kDialogCancel for the cancel
// button, Esc or the close box (-1 when the dialog could not be created).
#pragma once

#include <string>

#include "app/setup_app.h"

namespace qor {

constexpr int kDialogContinue = 1;  // IDOK
constexpr int kDialogCancel = 2;    // IDCANCEL

// Template 131: greets a first installation. No fields.
class WelcomeDialog {
 public:
  int Show();
};

// Templates 132 (first installation) and 135 (update): the source folder or
// package file and the install folder. The caller fills the four fields, shows
// the dialog and, on kDialogContinue, reads them back. The continue button is
// refused while a path (resolved to its full form) is longer than 250
// characters, while a Local source holds neither "setup.dat" nor a package,
// and while an Internet source lacks the internet library.
class SettingsDialog {
 public:
  explicit SettingsDialog(bool firstInstallation) : firstInstallation_(firstInstallation) {}
  int Show();

  std::string sourcePath;          // edit 1000
  std::string internetPath;        // carried through unchanged
  int sourceKind = kSourceUnknown; // carried through; decides the check
  std::string installPath;         // edit 1007

 private:
  bool firstInstallation_;
};

// Template 147: offers the mail scanner's configuration after the run. The
// fields change only when the dialog closes with "&Dalej >".
class MailScannerDialog {
 public:
  int Show();

  bool runConfiguration = false;  // check box 1038
  bool doNotShowAgain = false;    // check box 1039
};

// Template 150: the final message, with an optional second text in bold under
// it; without a second text the dialog is shorter.
class ResultDialog {
 public:
  // Each text is cut to 999 bytes.
  explicit ResultDialog(std::string mainText, std::string secondText = std::string());
  int Show();

  const std::string& MainText() const { return mainText_; }
  const std::string& SecondText() const { return secondText_; }

 private:
  std::string mainText_;
  std::string secondText_;
};

}  // namespace qor
