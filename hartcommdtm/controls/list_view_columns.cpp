#include "controls/list_view_columns.h"

#include <commctrl.h>

void CreateListColumns(HWND list, const ListColumn* columns, size_t count, const ListColumnTitle& title) {
  if (!list) return;
  ListView_DeleteAllItems(list);
  while (ListView_DeleteColumn(list, 0)) {
  }
  for (size_t i = 0; i < count; ++i) {
    const com::Bstr text = title(columns[i]);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = columns[i].width;
    column.pszText = const_cast<wchar_t*>(text.c_str());
    column.iSubItem = static_cast<int>(i);
    ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
}

void TitleListColumns(HWND list, const ListColumn* columns, size_t count, const ListColumnTitle& title) {
  if (!list) return;
  for (size_t i = 0; i < count; ++i) {
    const com::Bstr text = title(columns[i]);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT;
    column.pszText = const_cast<wchar_t*>(text.c_str());
    ::SendMessageW(list, LVM_SETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
}

void SetListCell(HWND list, int row, int column, const wchar_t* text) {
  LVITEMW cell = {};
  cell.iSubItem = column;
  cell.pszText = const_cast<wchar_t*>(text ? text : L"");
  ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
}

std::wstring ListCell(HWND list, int row, int column) {
  wchar_t text[100] = {};
  LVITEMW cell = {};
  cell.iSubItem = column;
  cell.pszText = text;
  cell.cchTextMax = 99;
  ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
  return text;
}
