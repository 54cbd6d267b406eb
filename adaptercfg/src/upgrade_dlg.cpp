#include "upgrade_dlg.h"

#include <commctrl.h>

#include "../res/resource.h"
#include "firmware.h"
#include "small_dialogs.h"
#include "texts.h"

namespace adaptercfg {

void UpgradeDlg::Run(HWND owner) {
  success_ = false;
  DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_UPGRADE), owner, Proc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK UpgradeDlg::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<UpgradeDlg*>(lParam);
    self->dialog_ = dialog;
    self->OnInit();
    return TRUE;
  }
  auto* self = reinterpret_cast<UpgradeDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_TIMER && wParam == kTimerId) {
    self->OnTimer();
    return TRUE;
  }
  return FALSE;  // no buttons: the upgrade cannot be left half-way but by a retry question
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
  SetProgress(IDC_WRITE_PROGRESS, 0, 0);
  SetProgress(IDC_VERIFY_PROGRESS, 0, 0);

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

  // The upgrade runs from the first tick, once the dialog is on screen.
  SetTimer(dialog_, kTimerId, kTimerDelayMs, nullptr);
}

void UpgradeDlg::OnTimer() {
  KillTimer(dialog_, kTimerId);
  UnpackedProgram program;
  if (!UnpackProgram(BootProgramTable(), &program)) return EndWith(texts::kUnableToUpgrade);
  const std::vector<uint8_t> image = BuildBootImage(program, serial_);
  const int length = static_cast<int>(image.size());
  for (int bar : {IDC_WRITE_PROGRESS, IDC_VERIFY_PROGRESS})
    SendDlgItemMessageW(dialog_, bar, PBM_SETRANGE32, 0, length);

  for (int i = 0; i < length; ++i) {
    if (!WriteByte(static_cast<uint16_t>(i), image[i])) return End();
    SetProgress(IDC_WRITE_PROGRESS, i, length);
  }
  for (int i = 0; i < length; ++i) {
    if (!VerifyByte(static_cast<uint16_t>(i), image[i])) return End();
    SetProgress(IDC_VERIFY_PROGRESS, i, length);
  }
  if (!WriteByte(0, kImageMarkComplete) || !VerifyByte(0, kImageMarkComplete)) return End();
  success_ = true;
  End();
}

void UpgradeDlg::SetProgress(int barId, int position, int length) {
  HWND bar = GetDlgItem(dialog_, barId);
  SendMessageW(bar, PBM_SETPOS, position, 0);
  // The passes run inside one message: paint now, or the bars stand still
  // until the end. A few hundred steps are enough to see them move.
  const int step = length > kPaintSteps ? length / kPaintSteps : 1;
  if (length == 0 || position % step == 0 || position == length - 1) UpdateWindow(bar);
}

bool UpgradeDlg::AskRetry(const char* question) {
  return Ask(dialog_, question, MB_RETRYCANCEL | MB_ICONQUESTION) == IDRETRY;
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
