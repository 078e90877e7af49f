#pragma once
// The updater's (PatchRelay's) COM classes as the module calls them. Only the slots the module
// uses are declared.
#include <windows.h>
#include <oaidl.h>

namespace InstallToolBox {

// {8E2A4C61-5B3D-11D2-A7F0-00A0C93E5B21}
inline constexpr CLSID CLSID_PatchRelayProductRegistry = {
    0x8E2A4C61, 0x5B3D, 0x11D2, {0xA7, 0xF0, 0x00, 0xA0, 0xC9, 0x3E, 0x5B, 0x21}};
// {8E2A4C60-5B3D-11D2-A7F0-00A0C93E5B21}
inline constexpr IID IID_IPatchRelayProductRegistry = {
    0x8E2A4C60, 0x5B3D, 0x11D2, {0xA7, 0xF0, 0x00, 0xA0, 0xC9, 0x3E, 0x5B, 0x21}};
// {4B91D7C3-6E2A-11D2-9C5B-0060B82F4A17}
inline constexpr CLSID CLSID_PatchRelayGroupRegistry = {
    0x4B91D7C3, 0x6E2A, 0x11D2, {0x9C, 0x5B, 0x00, 0x60, 0xB8, 0x2F, 0x4A, 0x17}};
// {4B91D7C2-6E2A-11D2-9C5B-0060B82F4A17}
inline constexpr IID IID_IPatchRelayGroupRegistry = {
    0x4B91D7C2, 0x6E2A, 0x11D2, {0x9C, 0x5B, 0x00, 0x60, 0xB8, 0x2F, 0x4A, 0x17}};

struct IPatchRelayProductRegistry : public IUnknown {
    // reserved is always an empty string; productId is a VT_BSTR copy of the identifier.
    virtual HRESULT STDMETHODCALLTYPE RegisterProduct(BSTR productName, BSTR version, BSTR language, BSTR reserved,
                                                      VARIANT* productId) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterProduct(BSTR productId) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(BSTR productId, BSTR name, BSTR value) = 0;
};

// Created and released only; this module registers no groups.
struct IPatchRelayGroupRegistry : public IUnknown {};

} // namespace InstallToolBox
