// Ids of the test server that its type library does not carry.
#pragma once

#include <windows.h>
#include <objbase.h>

// {6E0B8D51-3C2A-4F7E-9B11-2A7C5D90E312}
static const CLSID CLSID_TestFaulty = {
    0x6e0b8d51, 0x3c2a, 0x4f7e, {0x9b, 0x11, 0x2a, 0x7c, 0x5d, 0x90, 0xe3, 0x12}};
// {6E0B8D51-3C2A-4F7E-9B11-2A7C5D90E320}
static const GUID CATID_TestCategory = {
    0x6e0b8d51, 0x3c2a, 0x4f7e, {0x9b, 0x11, 0x2a, 0x7c, 0x5d, 0x90, 0xe3, 0x20}};
