#include "helper_runner.h"

#include "screenshot.h"
#include "win32/unique_handle.h"

namespace drvsetup_test {

namespace {

// Only a guard against a hung helper: a run normally ends in well under a second.
constexpr ULONGLONG kHangGuardMs = 60000;
constexpr DWORD kPollMs = 20;

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// A box's thread that has not taken a message for a few seconds counts as
// hung to the system, which a loaded machine easily makes it while the box
// is still being built; so the read waits its own bound instead of giving
// up on a "hung" thread.
constexpr UINT kTextReadMs = 30000;

std::wstring Text(HWND window) {
  std::wstring text(16384, L'\0');
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_NORMAL,
                           kTextReadMs, &length)) {
    return L"<no text>";
  }
  text.resize(length);
  return text;
}

struct FindBoxArgs {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindBoxProc(HWND window, LPARAM param) {
  auto* args = reinterpret_cast<FindBoxArgs*>(param);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId == args->processId && IsWindowVisible(window) && ClassName(window) == L"#32770") {
    args->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindBox(DWORD processId) {
  FindBoxArgs args{processId, nullptr};
  EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&args));
  return args.found;
}

BOOL CALLBACK ReadChildProc(HWND child, LPARAM param) {
  auto* box = reinterpret_cast<Box*>(param);
  if (!IsWindowVisible(child)) return TRUE;
  std::wstring name = ClassName(child);
  if (CompareStringOrdinal(name.c_str(), -1, L"Static", -1, TRUE) == CSTR_EQUAL &&
      (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
    box->text += Text(child);
  } else if (CompareStringOrdinal(name.c_str(), -1, L"Button", -1, TRUE) == CSTR_EQUAL) {
    box->buttons.push_back(GetDlgCtrlID(child));
  }
  return TRUE;
}

Box ReadBox(HWND window) {
  Box box;
  box.title = Text(window);
  box.owned = GetWindow(window, GW_OWNER) != nullptr;
  EnumChildWindows(window, ReadChildProc, reinterpret_cast<LPARAM>(&box));
  return box;
}

}  // namespace

HelperRun RunHelper(const std::wstring& exe, const std::wstring& args, const std::wstring& currentFolder,
                    const std::string& screenshot) {
  HelperRun run;
  std::wstring commandLine = L"\"" + exe + L"\" " + args;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info)) {
    return run;
  }
  win32::UniqueHandle process(info.hProcess);
  win32::UniqueHandle thread(info.hThread);

  const ULONGLONG guard = GetTickCount64() + kHangGuardMs;
  HWND closing = nullptr;  // the box we pressed OK on, until it is gone
  while (WaitForSingleObject(process.get(), kPollMs) == WAIT_TIMEOUT) {
    if (GetTickCount64() > guard) {
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), INFINITE);
      return run;
    }
    if (closing && IsWindow(closing)) continue;
    closing = nullptr;
    HWND box = FindBox(info.dwProcessId);
    if (!box) continue;
    run.boxes.push_back(ReadBox(box));
    if (run.boxes.size() == 1 && !screenshot.empty()) testsupport::SaveScreenshot(box, screenshot);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    closing = box;
  }
  GetExitCodeProcess(process.get(), &run.exitCode);
  run.finished = true;
  return run;
}

}  // namespace drvsetup_test
