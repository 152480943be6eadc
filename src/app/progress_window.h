// The progress window: a modeless dialog (template 133) that shows what is
// being read, where it goes and how much of it is done while the installation
// engine works. It is created hidden; the engine shows it unless the run is
// quiet and destroys it when its work ends, whatever the outcome.
//
// This header holds no <windows.h>: the caption and percentage rules below are
// plain functions, shared by the window and the native unit tests.
#pragma once

#include <cstdint>
#include <string>

namespace qor {

// amount * 100 / total rounded to the nearest whole number, halves away from
// zero, exact for every pair of 32-bit values (the product is formed in 64
// bits, so nothing overflows); 0 when total is 0.
constexpr std::int64_t ProgressPercent(std::int32_t amount, std::int32_t total) {
  if (total == 0) return 0;
  const std::int64_t numerator = static_cast<std::int64_t>(amount) * 100;
  const std::int64_t denominator = total;
  std::int64_t quotient = numerator / denominator;  // truncated toward zero
  std::int64_t remainder = numerator % denominator;
  if (remainder < 0) remainder = -remainder;
  const std::int64_t magnitude = denominator < 0 ? -denominator : denominator;
  // |remainder| < |total| <= 2^31, so doubling it stays far inside 64 bits.
  if (2 * remainder >= magnitude) quotient += ((numerator < 0) != (denominator < 0)) ? -1 : 1;
  return quotient;
}

// The bar's position for amount of total: ProgressPercent held to the bar's
// range 0..100, as the progress bar itself would hold it.
constexpr int ProgressBarPosition(std::int32_t amount, std::int32_t total) {
  const std::int64_t percent = ProgressPercent(amount, total);
  return percent < 0 ? 0 : percent > 100 ? 100 : static_cast<int>(percent);
}

// The operation caption: the text with a colon appended, unless it is empty or
// already ends in one.
inline std::string OperationCaption(const std::string& text) {
  if (text.empty() || text.back() == ':') return text;
  return text + ':';
}

class ProgressWindow {
 public:
  // Creates the window from its template, hidden. When the window cannot be
  // created the operations below still accept calls and do nothing.
  ProgressWindow();
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // Shows the window normally (the engine skips this in quiet runs).
  void Show();

  // Control 1015: the operation ("Kopiowanie" shows as "Kopiowanie:").
  void SetOperation(const std::string& text);
  // Control 1012: what is read.
  void SetSourceLine(const std::string& text);
  // Control 1014: where it goes.
  void SetTargetLine(const std::string& text);
  // Stores the amount that stands for 100 % and moves the bar to 0.
  void SetTotal(std::int32_t total);
  // Moves the bar to ProgressBarPosition(amount, total).
  void SetPosition(std::int32_t amount);
  // The "&Przerwij" button: queues an Esc key-down for the application's
  // thread, so that the next PollAbort asks whether to stop. Nothing else
  // changes; the window stays open.
  void RequestAbort();

  // The window handle (an HWND), null when creation failed.
  void* Handle() const { return window_; }
  std::int32_t Total() const { return total_; }

 private:
  void* window_ = nullptr;
  std::uint32_t thread_ = 0;  // the thread that created the window
  std::int32_t total_ = 0;
};

}  // namespace qor
