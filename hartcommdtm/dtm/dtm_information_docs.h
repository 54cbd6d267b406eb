// Texts of the DTM's information documents: the device-type fragment in its
// FDT 1.2 and FDT 1.2.1 forms and the device-type identification document.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace dtm_info {
inline constexpr wchar_t kDtmVersion[] = L"1.0.1";
inline constexpr wchar_t kDtmDate[] = L"2017-03-24";
inline constexpr wchar_t kDeviceTypeId[] = L"100A9015-EBB2-49b2-9D9C-0A24104F65E1";
inline constexpr wchar_t kDataSetFormatId[] = L"96B32FC9-45E3-447a-A88C-C854DCBDF12B";
}  // namespace dtm_info

// One fdt:DtmDeviceType element. name, id and icon path are escaped for their
// attributes; fdt121 selects the FDT 1.2.1 form (id as attribute, data-set
// formats). E_INVALIDARG for a null out pointer.
HRESULT BuildDeviceTypeFragment(bool fdt121, const wchar_t* name, const wchar_t* deviceTypeId,
                                const wchar_t* iconPath, BSTR* out);

// The fixed device-type identification document (FDT 1.2.1).
extern const wchar_t kDeviceTypeIdentDocument[];
