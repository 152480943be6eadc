#include "app/dialogs.h"

#include <windows.h>

#include "app/messages.h"
#include "install/package.h"
#include "resources/resource.h"
#include "source/internet.h"

namespace qor {
namespace {

// Longest text an edit field of the settings dialog may hold.
constexpr int kMaxFieldLength = 250;
// Room for a path as the system resolves it to its full form.
constexpr DWORD kFullPathBuffer = 1024;
// Each text of the result dialog holds at most this many bytes.
constexpr std::size_t kMaxResultText = 999;

// Runs a modal dialog from the program's templates with no owner window. The
// dialog procedure finds `self` again through DWLP_USER.
int RunModal(int templateId, DLGPROC proc, void* self) {
  INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr, proc,
                                   reinterpret_cast<LPARAM>(self));
  return static_cast<int>(result);
}

template <typename T>
T* Self(HWND dialog, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  return reinterpret_cast<T*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

std::string ItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  int length = item ? GetWindowTextLengthA(item) : 0;
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  int got = length > 0 ? GetWindowTextA(item, text.data(), length + 1) : 0;
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// Puts the focus on an edit field and selects its text, so that the user can
// correct what was refused.
void FocusField(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
  SendMessageA(item, EM_SETSEL, 0, -1);
}

// Closes a dialog whose only buttons are its default and cancel buttons
// (Esc and the close box arrive as IDCANCEL) with the id that closed it.
INT_PTR EndOnButton(HWND dialog, WPARAM wParam) {
  WORD id = LOWORD(wParam);
  if (id != IDOK && id != IDCANCEL) return FALSE;
  EndDialog(dialog, id);
  return TRUE;
}

// ---------------------------------------------------------------------------
// Welcome

INT_PTR CALLBACK WelcomeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      return EndOnButton(dialog, wParam);
  }
  return FALSE;
}

// ---------------------------------------------------------------------------
// Settings

// Replaces the field's text by its full path as the system resolves it
// against the current folder. A text that does not resolve (an empty one, or
// one whose full form would not fit) stays as it is.
void ResolveField(HWND dialog, int id) {
  std::string text = ItemText(dialog, id);
  char full[kFullPathBuffer];
  char* namePart = nullptr;
  DWORD n = GetFullPathNameA(text.c_str(), sizeof full, full, &namePart);
  if (n == 0 || n >= sizeof full) return;
  SetDlgItemTextA(dialog, id, full);
}

class SettingsConfirmation {
 public:
  SettingsConfirmation(HWND dialog, SettingsDialog& fields) : dialog_(dialog), fields_(fields) {}

  // The continue button: true when the dialog may close.
  bool Confirm() {
    if (!ReadFields()) return false;
    ResolveField(dialog_, IDC_SOURCE_PATH);
    ResolveField(dialog_, IDC_INSTALL_PATH);
    if (!ReadFields()) return false;

    if (fields_.sourceKind == kSourceLocal && !HasSetupScript(fields_.sourcePath) &&
        !IsPackageFile(fields_.sourcePath.c_str())) {
      ShowMessage(fields_.sourcePath + "\nPodany katalog nie zawiera\nplików instalacyjnych",
                  MB_OK | MB_ICONEXCLAMATION);
      return false;
    }
    if (fields_.sourceKind == kSourceInternet && !InternetLibraryAvailable()) {
      ShowMessage("Brak pliku systemowego WININET.DLL\nNie jest możliwa instalacja przez Internet",
                  MB_OK | MB_ICONEXCLAMATION);
      return false;
    }
    return ReadFields();
  }

  // Reads both edit fields into the dialog's fields, refusing (with the
  // platform's wording) one that is longer than the field may be.
  bool ReadFields() {
    return ReadField(IDC_SOURCE_PATH, fields_.sourcePath) && ReadField(IDC_INSTALL_PATH, fields_.installPath);
  }

 private:
  bool ReadField(int id, std::string& target) {
    std::string text = ItemText(dialog_, id);
    if (text.size() > static_cast<std::size_t>(kMaxFieldLength)) {
      std::string message = ResourceString(IDS_TEXT_TOO_LONG);
      std::size_t at = message.find("%1");
      if (at != std::string::npos) message.replace(at, 2, std::to_string(kMaxFieldLength));
      ShowMessage(message, MB_OK | MB_ICONEXCLAMATION);
      FocusField(dialog_, id);
      return false;
    }
    target = text;
    return true;
  }

  HWND dialog_;
  SettingsDialog& fields_;
};

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = Self<SettingsDialog>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDC_SOURCE_PATH, EM_LIMITTEXT, kMaxFieldLength, 0);
      SendDlgItemMessageA(dialog, IDC_INSTALL_PATH, EM_LIMITTEXT, kMaxFieldLength, 0);
      SetDlgItemTextA(dialog, IDC_SOURCE_PATH, self->sourcePath.c_str());
      SetDlgItemTextA(dialog, IDC_INSTALL_PATH, self->installPath.c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        // The fields are written only when the dialog closes with continue:
        // work on a copy so that a refusal followed by cancel leaves them
        // as the caller gave them.
        SettingsDialog copy = *self;
        if (SettingsConfirmation(dialog, copy).Confirm()) {
          *self = copy;
          EndDialog(dialog, IDOK);
        }
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

// ---------------------------------------------------------------------------
// Mail scanner

INT_PTR CALLBACK MailScannerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = Self<MailScannerDialog>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      CheckDlgButton(dialog, IDC_RUN_MAILCONF, self->runConfiguration ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(dialog, IDC_DONT_SHOW_AGAIN, self->doNotShowAgain ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        self->runConfiguration = IsDlgButtonChecked(dialog, IDC_RUN_MAILCONF) == BST_CHECKED;
        self->doNotShowAgain = IsDlgButtonChecked(dialog, IDC_DONT_SHOW_AGAIN) == BST_CHECKED;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {  // Esc or the close box: the boxes are not taken over
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
  }
  return FALSE;
}

// ---------------------------------------------------------------------------
// Result

// The bold font of the second text, owned by the open dialog.
class ResultFont {
 public:
  ResultFont()
      : font_(CreateFontA(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH, "Arial CE")) {}
  ~ResultFont() {
    if (font_) DeleteObject(font_);
  }
  ResultFont(const ResultFont&) = delete;
  ResultFont& operator=(const ResultFont&) = delete;
  HFONT Get() const { return font_; }

 private:
  HFONT font_;
};

struct ResultState {
  const ResultDialog* dialog;
  ResultFont font;
};

// Without a second text the dialog loses the second text's area and the gap
// under it: it becomes shorter by that control's height plus 40 pixels, and
// the OK button moves up by as much.
void DropSecondTextArea(HWND dialog) {
  RECT second;
  GetWindowRect(GetDlgItem(dialog, IDC_RESULT_SECOND_TEXT), &second);
  const int shrink = (second.bottom - second.top) + 40;

  RECT frame;
  GetWindowRect(dialog, &frame);
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top - shrink,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  HWND ok = GetDlgItem(dialog, IDOK);
  RECT button;
  GetWindowRect(ok, &button);
  POINT topLeft = {button.left, button.top};
  ScreenToClient(dialog, &topLeft);
  SetWindowPos(ok, nullptr, topLeft.x, topLeft.y - shrink, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK ResultProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = Self<ResultState>(dialog, message, lParam);
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDC_RESULT_SECOND_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(state->font.Get()),
                          FALSE);
      SetDlgItemTextA(dialog, IDC_RESULT_TEXT, state->dialog->MainText().c_str());
      if (!state->dialog->SecondText().empty())
        SetDlgItemTextA(dialog, IDC_RESULT_SECOND_TEXT, state->dialog->SecondText().c_str());
      else
        DropSecondTextArea(dialog);
      SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      return TRUE;
    case WM_COMMAND:
      return EndOnButton(dialog, wParam);
  }
  return FALSE;
}

std::string CutResultText(std::string text) {
  if (text.size() > kMaxResultText) text.resize(kMaxResultText);
  return text;
}

}  // namespace

int WelcomeDialog::Show() { return RunModal(IDD_WELCOME, WelcomeProc, this); }

int SettingsDialog::Show() {
  return RunModal(firstInstallation_ ? IDD_SETTINGS_FIRST : IDD_SETTINGS_UPDATE, SettingsProc, this);
}

int MailScannerDialog::Show() { return RunModal(IDD_MAIL_SCANNER, MailScannerProc, this); }

ResultDialog::ResultDialog(std::string mainText, std::string secondText)
    : mainText_(CutResultText(std::move(mainText))), secondText_(CutResultText(std::move(secondText))) {}

int ResultDialog::Show() {
  // The font lives exactly as long as the dialog that uses it.
  ResultState state{this, {}};
  return RunModal(IDD_RESULT, ResultProc, &state);
}

}  // namespace qor
