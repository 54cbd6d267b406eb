// CDeviceListCtrl: the devices on the DTM's HART bus (function 2, "Device
// List"). One row per device the channel's last scan found and per child
// device DTM of the channel, a device and a DTM at the same polling address
// merged into one row; scans started and stopped from here; the address
// functions (10, 11, 12) opened for the selected row.
//
// Everything comes from the channel's IHART_Channel. The list is rebuilt
// when the channel writes parameter 1004 (a device found or moved), 1005
// (scan active) or 1010 (child DTMs changed), also while a scan runs: the
// channel answers copies of its tables taken under their locks, so a
// refresh never reads a table the scan is changing.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "controls/device_list_entries.h"
#include "hartcommdtm.h"
#include "toolkit/controls/control_base.h"
#include "win32/unique_handle.h"

class CDeviceListCtrl : public com::DispatchImpl<IDeviceListCtrl>,
                        public DtmControl {
 public:
  CDeviceListCtrl();
  ~CDeviceListCtrl() override;
  static const com::InterfaceEntry* interfaceMap();

  // The base's attach, then the DTM's HART channel (E_POINTER without one,
  // E_FAIL before Init named the control) and the list with the channel's
  // children read again from the frame.
  STDMETHODIMP AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) override;
  // A language change re-titles the columns and rebuilds the rows.
  STDMETHODIMP SetProperty(VARIANT key, VARIANT value) override;
  STDMETHODIMP OnStateChanged(unsigned long state) override;
  // Offers function 2 again.
  STDMETHODIMP PrepareToRelease(VARIANT_BOOL* result) override;

 protected:
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  // Each window the control gets has its list set up anew.
  void OnDialogCreated() override;
  void OnDialogDestroyed() override;
  // Dropped unasked: function 2 is offered again, as after PrepareToRelease.
  void OnUnbinding() override;
  void OnEditStateChanged() override;
  // Parameters 1004, 1005 and 1010 rebuild the list.
  HRESULT RefreshParameter(LONG id) override;

 private:
  HWND List() const;

  // Once the window and the channel are there: images, styles, buttons,
  // columns, and the rows with the children read again.
  void SetUpList();
  void CreateColumns();
  void TitleColumns();
  void ReadStatusTexts();
  // The entries read again from the channel, then shown. Without a channel
  // or a device count nothing changes.
  void Refresh(bool updateChildren);
  void FillList();
  void DeleteRows();
  // Update List and Stop Scan by the DTM's state and the scan.
  void SetButtons();
  void ShowScanStatus();
  const DeviceListEntry* SelectedEntry(int* row) const;

  void OnUpdateList();
  void OnStopScan();
  void OnClose();
  void OnListClick();
  HRESULT OnSetAddress();
  void OnScanActive(bool active);

  // The DTM's state as the DTM tells it now (the last one reported
  // without IevFdtBaseDTM).
  ULONG CurrentDtmState();

  // Layout of the resizable control: items keep their distance to the
  // edges they follow.
  void RememberLayout();
  void Layout(int width, int height);

  struct ImageListTraits {
    using type = HIMAGELIST;
    static type invalid() { return nullptr; }
    static bool valid(type h) { return h != nullptr; }
    static void close(type h) { ImageList_Destroy(h); }
  };

  com::ComPtr<IHART_Channel> channel_;
  DeviceListEntries entries_;
  win32::UniqueResource<ImageListTraits> images_;
  bool listReady_ = false;
  bool scanStartedHere_ = false;
  bool scanActive_ = false;
  // A refresh asked for while one runs (a notice that arrives while the
  // channel is asked) runs once more when it has ended.
  bool refreshing_ = false;
  bool refreshAgain_ = false;
  bool refreshChildrenAgain_ = false;
  com::Bstr statusName_;
  com::Bstr statusTip_;

  struct ItemPlace {
    UINT id;
    RECT rect;  // where the dialog template placed it, in pixels
  };
  std::vector<ItemPlace> places_;
  SIZE templateSize_ = {0, 0};
};
