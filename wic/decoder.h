// The WIC decoder of G00 pictures: one frame, 32bppBGRA (straight alpha) for region-based
// pictures and 24bppBGR for full-frame ones, as the converter writes them.
#pragma once

#include <windows.h>
#include <wincodec.h>

// {91A97ED5-3C5E-481A-B378-9C5AC5498C75}
inline constexpr GUID kDecoderClsid = {
    0x91a97ed5, 0x3c5e, 0x481a, {0xb3, 0x78, 0x9c, 0x5a, 0xc5, 0x49, 0x8c, 0x75}};
// {E434EB55-25A7-4F4E-B056-99F9459BDD8B}
inline constexpr GUID kContainerFormat = {
    0xe434eb55, 0x25a7, 0x4f4e, {0xb0, 0x56, 0x99, 0xf9, 0x45, 0x9b, 0xdd, 0x8b}};
// {33576F15-9F6E-4D6F-8674-EF4D9E03B1CE}
inline constexpr GUID kVendor = {
    0x33576f15, 0x9f6e, 0x4d6f, {0x86, 0x74, 0xef, 0x4d, 0x9e, 0x03, 0xb1, 0xce}};

// Live COM objects of the DLL plus the class factories' locks: DllCanUnloadNow's answer.
void addObject();
void removeObject();
bool noObjectsLive();

// A new decoder with one reference, for the class factory.
HRESULT createDecoder(REFIID iid, void** object);
