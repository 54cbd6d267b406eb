// What the tests of the DTM's controls share: the HART DTM registered in the
// prefix and configured (state 8) with the control frame double as its
// frame application (and, through BoundAdapterFixture, a simulated adapter
// on which it can go online), the header, footer and HTML Help doubles, and a frame
// window that hosts a control by its ProgID through atl.dll. When the DTM
// asks the frame to close the control, the frame asks PrepareToRelease and,
// when the control agrees, destroys its window and drops it.
#pragma once

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "child_dtm.h"
#include "control_host.h"
#include "hart_dtm_fixture.h"

namespace hartdtmtest {

// The function-call document of a function, as the DTM builds it.
std::wstring FunctionCallDocument(ULONG functionId);

// One text a control shows, with where it stands ("item 6063", "tip of item
// 6007", "column 2", "cell 0,3", "footer status 12345").
struct ShownText {
  std::wstring where;
  std::wstring text;
  bool operator==(const ShownText& other) const { return where == other.where && text == other.text; }
};
void PrintTo(const ShownText& text, std::ostream* out);
// The English texts of the delivered translation document that a control
// can show: every English entry under ActiveXList, UserMessages and
// ToolkitMessages.
std::set<std::wstring> EnglishControlEntries();
// The shown texts that are one of the English texts: what a German user
// would still read in English. Texts that are the same in both languages
// are left out: those without a letter (numbers, blanks) and a short list
// of words and names ("OK", "ID", "USB", "PCI", "PCMCIA").
std::vector<ShownText> EnglishLeft(const std::vector<ShownText>& shown, const std::set<std::wstring>& english);

// Everything a control's dialog shows, one item a line: id, window class,
// text, hidden, disabled, read-only, check, the entries and selection of
// lists. Hosted controls show only their id.
std::wstring DialogContent(HWND dialog);

// The space a push button's text needs on either side: its border
// (2 x SM_CXEDGE) and 3 pixels, so that the text does not touch it.
int ButtonTextMargin();
// The push buttons of a dialog whose text (without its '&' marks, on one
// line, in the button's font) leaves less than ButtonTextMargin() between
// it and the button's edge on either side, one a line: id, text, text
// width, client width. Empty when every text fits.
std::wstring TightButtons(HWND dialog);

// How a frame brings a control up.
enum class FrameOrder {
  kActivateThenInit,  // hosted (activated), then Init
  kInitThenActivate,  // created, Init, then hosted
  kReactivated,       // hosted, Init, and later deactivated and activated again
};
const char* FrameOrderName(FrameOrder order);

class ControlsFixture : public BoundAdapterFixture {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Hosts the control of progId and initialises it with the DTM for the
  // function; *initialised receives Init's answer.
  void OpenControl(const wchar_t* progId, ULONG functionId, const wchar_t* caption, int width,
                   int height);
  // The same in a frame's order (kReactivated opens as kActivateThenInit;
  // the case deactivates and activates it when it likes, with Reactivate).
  void OpenControlInOrder(FrameOrder order, const wchar_t* progId, ULONG functionId, const wchar_t* caption,
                          int width, int height);
  void Reactivate();
  // The case starts again with a DTM and a frame of its own: the control
  // closed, the DTM shut down and released, a new frame without DTMs; the
  // simulated adapter stays as it is.
  void StartAgain();
  // The DTM's broadcast of its state to the open controls.
  void BroadcastState(ULONG state);
  // What the header or footer double got, one call per line.
  std::wstring HostedCalls(UINT item);
  // What HTML Help was asked to open ("<command> <file>" lines); cleared.
  std::string TakeHelpCalls();
  // The function's status in the DTM's function list ("1" enabled).
  std::wstring FunctionEnabled(ULONG functionId);
  // Writes the frame window as PNG into screenshots\ beside the program.
  void SaveScreenshot(const char* name);

  // The DTM's HART channel; null without one.
  com::ComPtr<IHART_Channel> Channel();
  // A device DTM double with this tag and slave address (none for -1),
  // known to the frame under systemTag and kept until the test ends; how
  // the channel learns of it is the caller's. Null when none could be made.
  devicedtm_double::ChildDtm* RegisterChildDtm(const std::wstring& systemTag, const std::wstring& dtmTag,
                                               int address);

  // Every text the hosted control shows a user: its static items, buttons
  // and group boxes (hidden ones too, which it may show later), the items
  // of its combo boxes, its items' tool tips, its list views' column titles
  // (and, withCells, their cells) and the statuses it registered with the
  // footer bar. Edits hold values and are left out, and so are the outside
  // controls' own windows.
  std::vector<ShownText> ShownTexts(bool withCells);

  // A list view item's rows, cells, sub-item images and column titles.
  int ListRows(UINT list);
  std::wstring ListCellText(UINT list, int row, int column);
  int ListImage(UINT list, int row, int column);
  std::wstring ColumnTitle(UINT list, int column);

  control_host::HostedControl host;
  VARIANT_BOOL initialised = VARIANT_FALSE;
  // PrepareToRelease answers of the frame's close requests, in order.
  std::vector<VARIANT_BOOL> releaseAnswers;

 private:
  // The frame closes the control it hosts when the DTM asks.
  void HandleCloseRequests();

  std::map<std::wstring, com::ComPtr<IUnknown>> childDtms_;
};

}  // namespace hartdtmtest
