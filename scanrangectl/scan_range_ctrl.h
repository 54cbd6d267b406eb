// CevHrtFdtScanRangeActiveX: the control of the DTM's function "Set Scan
// Range" (8). Two drop-down lists hold the first and the last polling
// address of the next scan, each from 0 to 15 and never passing each other;
// OK writes them into the DTM's parameters 980 and 981 and asks the DTM to
// close the control, Cancel only asks to be closed.
//
// The range is kept beside the two lists: a frame may initialise the control
// before its window exists, or deactivate and activate it again, and each
// window shows the range the control holds.
//
// Built on the toolkit's control base with three settings of its own: the
// function id is read under any root element of the function call, a row
// gets a tool tip from the DTM only when its first question (selector
// 0x80000000) answers non-zero, and missing schema names are cut from a
// parse error by separators.
#pragma once

#include <windows.h>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "scanrangectl.h"
#include "toolkit/controls/control_base.h"

class CevHrtFdtScanRangeActiveX : public com::DispatchImpl<IevHrtFdtScanRangeActiveX>,
                                  public DtmControl {
 public:
  CevHrtFdtScanRangeActiveX();
  static const com::InterfaceEntry* interfaceMap();

  // The base's binding, then both lists from 0 to 15.
  STDMETHODIMP AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) override;

  // Keeps the range, refills both lists so that neither end can pass the
  // other, and selects start and end.
  void FillRangeCombos(LONG start, LONG end);
  // Both selections (without a window: the range kept); false (and nothing
  // read) when a selected text is longer than 10 characters. An end below
  // the start becomes the start.
  bool ReadRange(LONG* start, LONG* end);

 protected:
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDialogCreated() override;

 private:
  void OnRangeSelChange();
  void OnOK();

  // The range since AttachDtm (none before).
  bool hasRange_ = false;
  LONG start_ = 0;
  LONG end_ = 0;
};
