// The FDT catalogue notice: a new GUID under HKLM
// "SOFTWARE\FDT\DTMCatalogUpdates" tells frame applications that the set of
// installed DTMs changed.
#pragma once

#include <windows.h>

#include <string>

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string GuidTextA(const GUID& guid);

// Writes "ModificationFlag" = a new braced GUID and "ModificationComment" =
// "" (both REG_SZ). False when no GUID could be made or the key can be
// neither opened nor created; nothing else happens then.
bool WriteCatalogueNotice();
