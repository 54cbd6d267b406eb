// UpgradeDlg: rewrites the boot EEPROM of an adapter that the earlier
// kernel-mode driver runs, through that driver's vendor requests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "legacy_driver.h"

namespace adaptercfg {

class UpgradeDlg {
 public:
  explicit UpgradeDlg(LegacyHandle& device) : device_(device) {}

  // Runs the dialog modally; the success flag tells whether the image was
  // written and verified.
  void Run(HWND owner);
  bool Succeeded() const { return success_; }

 private:
  static constexpr UINT_PTR kTimerId = 1;
  static constexpr UINT kTimerDelayMs = 50;
  static constexpr int kPaintSteps = 200;

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit();
  void OnTimer();
  void End();                           // closes the dialog with the flag as it is
  void EndWith(const char* message);    // tells the user, then closes

  // Single steps; each asks the user to retry and answers false on Cancel.
  bool VendorRequest(uint8_t code, uint16_t value, uint16_t index, void* answer, DWORD answerSize);
  bool WriteByte(uint16_t address, uint8_t value);
  bool ReadByte(uint16_t address, uint8_t* value);
  bool VerifyByte(uint16_t address, uint8_t expected);
  bool AskRetry(const char* question);
  void SetProgress(int barId, int position, int length);

  LegacyHandle& device_;
  HWND dialog_ = nullptr;
  uint16_t serial_ = 0;  // the word read at start; the image carries it
  bool success_ = false;
};

}  // namespace adaptercfg
