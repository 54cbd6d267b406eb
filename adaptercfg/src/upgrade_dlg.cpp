#include "upgrade_dlg.h"

#include <commctrl.h>

#include "../res/resource.h"
#include "firmware.h"
#include "small_dialogs.h"
#include "texts.h"
#include "win32/callback_guard.h"

namespace adaptercfg {

void UpgradeDlg::Run(HWND owner) {
  success_ = false;
  // Stand-in tables are not the adapter's code: written, they would leave an
  // adapter that no longer starts.
  if (FirmwareTablesAreStandIns()) return;
  DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_UPGRADE), owner, Proc, reinterpret_cast<LPARAM>(this));
  // Only a dialog destroyed from outside ends before the passes; their
  // questions to it then answer Cancel at once, and they stop.
  if (passes_) WaitForSingleObject(passes_.get(), INFINITE);
  passes_.reset();
}

INT_PTR CALLBACK UpgradeDlg::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  // A preparation that raised (no byte of the image is written before the
  // passes) ends the upgrade as one that cannot be done.
  auto prepare = [dialog](UpgradeDlg* self, void (UpgradeDlg::*step)()) {
    const bool prepared = win32::guard(false, [&] {
      (self->*step)();
      return true;
    });
    if (prepared) return;
    win32::guard([&] { Ask(dialog, texts::kUnableToUpgrade, MB_OK | MB_ICONEXCLAMATION); });
    self->End();
  };
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<UpgradeDlg*>(lParam);
    self->dialog_ = dialog;
    prepare(self, &UpgradeDlg::OnInit);
    return TRUE;
  }
  auto* self = reinterpret_cast<UpgradeDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_TIMER:
      if (wParam != kTimerId) return FALSE;
      prepare(self, &UpgradeDlg::OnTimer);
      return TRUE;
    case kMsgProgress:
      SendDlgItemMessageW(dialog, static_cast<int>(wParam), PBM_SETPOS, static_cast<WPARAM>(lParam), 0);
      return TRUE;
    case kMsgPassesDone:
      self->OnPassesDone(wParam != 0);
      return TRUE;
    case kMsgAskRetry:
      // A question that cannot be asked answers Cancel.
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, win32::guard(IDCANCEL, [&] {
                          return Ask(dialog, reinterpret_cast<const char*>(lParam), MB_RETRYCANCEL | MB_ICONQUESTION);
                        }));
      return TRUE;
    case WM_COMMAND:
      // No buttons, and Escape or the close command do nothing: the upgrade
      // cannot be left half-way but by a retry question.
      return TRUE;
  }
  return FALSE;
}

void UpgradeDlg::End() {
  KillTimer(dialog_, kTimerId);
  EndDialog(dialog_, success_ ? IDOK : IDCANCEL);
}

void UpgradeDlg::EndWith(const char* message) {
  Ask(dialog_, message, MB_OK | MB_ICONEXCLAMATION);
  End();
}

void UpgradeDlg::OnInit() {
  for (int bar : {IDC_WRITE_PROGRESS, IDC_VERIFY_PROGRESS}) SendDlgItemMessageW(dialog_, bar, PBM_SETPOS, 0, 0);

  uint8_t word[2] = {};
  if (!device_.VendorRequest(kRequestReadEeprom, 0, 0, word, sizeof word))
    return EndWith(texts::kUnableToUpgrade);
  serial_ = static_cast<uint16_t>(word[0] | word[1] << 8);
  if (serial_ == kUpgradedWord) {
    Ask(dialog_, LoadText(IDS_UPGRADE_DONE), MB_OK | MB_ICONINFORMATION);
    return End();
  }

  std::vector<uint8_t> loader = PackFirmwareTable(EepromLoaderTable());
  if (!device_.Control(kIoctlDownload, loader.data(), static_cast<DWORD>(loader.size()), nullptr, 0))
    return EndWith(texts::kUnableToUpgrade);

  uint8_t first = 0, second = 0;
  if (!ReadByte(5, &first) || !ReadByte(5, &second)) return End();
  if (first >= 2 && second == kImageMarkComplete) return EndWith(texts::kUnexpectedEepromValue);

  // The upgrade starts from the first tick, once the dialog is on screen.
  SetTimer(dialog_, kTimerId, kTimerDelayMs, nullptr);
}

void UpgradeDlg::OnTimer() {
  KillTimer(dialog_, kTimerId);
  UnpackedProgram program;
  if (!UnpackProgram(BootProgramTable(), &program)) return EndWith(texts::kUnableToUpgrade);
  image_ = BuildBootImage(program, serial_);
  for (int bar : {IDC_WRITE_PROGRESS, IDC_VERIFY_PROGRESS})
    SendDlgItemMessageW(dialog_, bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(image_.size()));
  // The passes take seconds on an adapter: run inside one message they would
  // stop the dialog answering, and Windows would offer to end the program
  // in the middle of the write.
  passes_.reset(CreateThread(nullptr, 0, PassesThread, this, 0, nullptr));
  if (!passes_) EndWith(texts::kUnableToUpgrade);
}

DWORD WINAPI UpgradeDlg::PassesThread(void* param) {
  auto* self = static_cast<UpgradeDlg*>(param);
  // The dialog ends on kMsgPassesDone, also after passes that raised.
  const bool success = win32::guard(false, [&] { return self->RunPasses(); });
  PostMessageW(self->dialog_, kMsgPassesDone, success, 0);
  return 0;
}

bool UpgradeDlg::RunPasses() {
  const int length = static_cast<int>(image_.size());
  for (int i = 0; i < length; ++i) {
    if (!WriteByte(static_cast<uint16_t>(i), image_[i])) return false;
    PostMessageW(dialog_, kMsgProgress, IDC_WRITE_PROGRESS, i + 1);
  }
  for (int i = 0; i < length; ++i) {
    if (!VerifyByte(static_cast<uint16_t>(i), image_[i])) return false;
    PostMessageW(dialog_, kMsgProgress, IDC_VERIFY_PROGRESS, i + 1);
  }
  return WriteByte(0, kImageMarkComplete) && VerifyByte(0, kImageMarkComplete);
}

void UpgradeDlg::OnPassesDone(bool success) {
  // The thread posted this as its last act; it ends at once.
  WaitForSingleObject(passes_.get(), INFINITE);
  passes_.reset();
  success_ = success;
  End();
}

bool UpgradeDlg::AskRetry(const char* question) {
  // Asked on the dialog's thread: from the passes' thread this waits for
  // the answer, from the dialog's own it is a plain call.
  return SendMessageW(dialog_, kMsgAskRetry, 0, reinterpret_cast<LPARAM>(question)) == IDRETRY;
}

bool UpgradeDlg::VendorRequest(uint8_t code, uint16_t value, uint16_t index, void* answer, DWORD answerSize) {
  while (!device_.VendorRequest(code, value, index, answer, answerSize))
    if (!AskRetry(texts::kCommunicationRetry)) return false;
  return true;
}

bool UpgradeDlg::WriteByte(uint16_t address, uint8_t value) {
  for (;;) {
    uint8_t status = 0;
    if (!VendorRequest(kRequestWriteEeprom, value, address, &status, 1)) return false;
    if (status == kEepromStatusOk) return true;
    if (!AskRetry(texts::kWriteRetry)) return false;
  }
}

bool UpgradeDlg::ReadByte(uint16_t address, uint8_t* value) {
  for (;;) {
    uint8_t answer[2] = {};
    if (!VendorRequest(kRequestReadEeprom, 0, address, answer, sizeof answer)) return false;
    if (answer[1] == kEepromStatusOk) {
      *value = answer[0];
      return true;
    }
    if (!AskRetry(texts::kReadRetry)) return false;
  }
}

bool UpgradeDlg::VerifyByte(uint16_t address, uint8_t expected) {
  uint8_t value = 0;
  if (!ReadByte(address, &value)) return false;
  while (value != expected) {
    if (!AskRetry(texts::kVerifyRewrite)) return false;
    if (!WriteByte(address, expected) || !ReadByte(address, &value)) return false;
  }
  return true;
}

}  // namespace adaptercfg
