// The columns and cells of a control's list view in report view.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

#include "com/Bstr.h"

// A column: its text's string id and translation key, its width in pixels.
struct ListColumn {
  int id;
  const wchar_t* key;
  int width;
};

// The title a control gives a column (its translation, say).
using ListColumnTitle = std::function<com::Bstr(const ListColumn&)>;

// Every row and column removed, then the columns inserted left-aligned
// with their widths and titles.
void CreateListColumns(HWND list, const ListColumn* columns, size_t count, const ListColumnTitle& title);
// The columns titled again (after a change of language).
void TitleListColumns(HWND list, const ListColumn* columns, size_t count, const ListColumnTitle& title);

void SetListCell(HWND list, int row, int column, const wchar_t* text);
// A cell's text, at most 99 characters.
std::wstring ListCell(HWND list, int row, int column);
