// CDriverConfigCtrl: the choice of the adapter the channel uses (function
// 6, "Driver Configuration"). Lists the adapters that the modem interface
// library reports attached for every device number, lets the user open one
// to try it, and writes the chosen device number into parameter 1000.
//
// The control binds the library on a CHartDriverApi of its own. An adapter
// it opened is closed before the device number is written (so that the
// channel can open it), when another row is chosen, on refresh, and at the
// latest when the control goes, also when the frame drops it unasked.
//
// The list is made with each window the control gets: the first one selects
// the configured device, a later one (re-activation) the device chosen.
#pragma once

#include <windows.h>

#include <vector>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "hartcommdtm.h"
#include "modem/modem_binding.h"
#include "toolkit/controls/control_base.h"

class CDriverConfigCtrl : public com::DispatchImpl<IDriverConfigCtrl>,
                          public DtmControl {
 public:
  CDriverConfigCtrl();
  ~CDriverConfigCtrl() override;
  static const com::InterfaceEntry* interfaceMap();
  void finalRelease();

  STDMETHODIMP PrepareToRelease(VARIANT_BOOL* result) override;
  STDMETHODIMP OnStateChanged(unsigned long state) override;
  // A language change relabels the columns and rebuilds the rows.
  STDMETHODIMP SetProperty(VARIANT key, VARIANT value) override;

 protected:
  // Binds the library and fills the list; function 6 is not offered while
  // the control is open.
  HRESULT OnInit() override;
  void OnUnbinding() override;
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnDialogCreated() override;
  void OnDialogDestroyed() override;
  void OnEditStateChanged() override;
  // The reason the list cannot be used stands in 6030, whose label the
  // translation put back.
  void OnTranslated() override;

 private:
  HWND List() const;
  // Columns, rows and the chosen row, once the window and the library are there.
  void SetUpList();
  void CreateColumns();
  void SetColumnHeaders();
  // The adapters read from the library, then shown.
  void FillList();
  void ReadAdapters();
  void ShowAdapters();
  void SelectConfiguredRow();
  // Selects and focuses the row of a device number (each number has one
  // row at most); the row, or -1 when the list has none.
  int SelectDeviceRow(int number);
  // The chosen row (the first selected one) becomes the chosen device: on a
  // click, and on a row the user selects with the keyboard.
  void OnListClick();
  void UpdateControlStates();
  void OnInitDevice();
  void OnRefreshList();
  void OnUseSelectedDevice();
  // Closes the adapter the control holds open.
  void CloseOpenedDevice();
  int SelectedRow() const;
  int RowDeviceNumber(int row) const;

  CHartDriverApi api_;
  struct Adapter {
    int number;
    vtHART_DeviceConfig row;
  };
  std::vector<Adapter> adapters_;  // the attached adapters as last read
  BYTE chosen_ = 255;  // device number of the row last picked
  BYTE opened_ = 0;    // the control holds the chosen adapter open
  BYTE usable_ = 0;    // the chosen adapter is attached and not in use
  bool listReady_ = false;    // the window's list has its columns
  bool rowTakenOver_ = false;  // the configured row was taken as the chosen one
  bool selectingRows_ = false;  // the control itself fills the list or selects a row
  // Marks the control's own changes of the list for as long as it lives.
  struct SelectingRows {
    explicit SelectingRows(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~SelectingRows() { flag_ = was_; }
    SelectingRows(const SelectingRows&) = delete;
    SelectingRows& operator=(const SelectingRows&) = delete;
    bool& flag_;
    const bool was_;
  };
};
