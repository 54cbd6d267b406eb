// UpgradeDlg: rewrites the boot EEPROM of an adapter that the earlier
// kernel-mode driver runs, through that driver's vendor requests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "legacy_driver.h"
#include "win32/unique_handle.h"

namespace adaptercfg {

class UpgradeDlg {
 public:
  explicit UpgradeDlg(LegacyHandle& device) : device_(device) {}

  // Runs the dialog modally; the success flag tells whether the image was
  // written and verified. Never runs with stand-in firmware tables.
  void Run(HWND owner);
  bool Succeeded() const { return success_; }

 private:
  static constexpr UINT_PTR kTimerId = 1;
  static constexpr UINT kTimerDelayMs = 50;
  // Posted by the passes' thread: a bar's new position (wParam the bar's id,
  // lParam the position), and the end of the passes (wParam the success).
  static constexpr UINT kMsgProgress = WM_APP + 1;
  static constexpr UINT kMsgPassesDone = WM_APP + 2;
  // Sent by whichever thread has to ask the user: lParam the question; the
  // answer is IDRETRY or IDCANCEL.
  static constexpr UINT kMsgAskRetry = WM_APP + 3;

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit();
  void OnTimer();
  void OnPassesDone(bool success);
  void End();                           // closes the dialog with the flag as it is
  void EndWith(const char* message);    // tells the user, then closes

  // The write and verify passes and the final mark, on a thread of their
  // own, so that the dialog keeps answering while they run.
  static DWORD WINAPI PassesThread(void* self);
  bool RunPasses();

  // Single steps; each asks the user to retry and answers false on Cancel.
  bool VendorRequest(uint8_t code, uint16_t value, uint16_t index, void* answer, DWORD answerSize);
  bool WriteByte(uint16_t address, uint8_t value);
  bool ReadByte(uint16_t address, uint8_t* value);
  bool VerifyByte(uint16_t address, uint8_t expected);
  bool AskRetry(const char* question);

  LegacyHandle& device_;
  HWND dialog_ = nullptr;
  uint16_t serial_ = 0;  // the word read at start; the image carries it
  std::vector<uint8_t> image_;
  win32::UniqueHandle passes_;
  bool success_ = false;
};

}  // namespace adaptercfg
