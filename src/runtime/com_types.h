// COM base types and conventions as the .NET runtime uses them on Linux x86-64:
// HRESULT statuses, GUIDs, 16-bit WCHAR text, IUnknown and IClassFactory.
// Declarations only; the runtime's published ABI is the reference (System V
// calling convention, one vtable pointer per interface, slots in declaration order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

using HRESULT = int32_t;
using BOOL = int32_t;
using BYTE = uint8_t;
using USHORT = uint16_t;
using SHORT = int16_t;
using ULONG = uint32_t;
using LONG = int32_t;
using DWORD = uint32_t;
using ULONG32 = uint32_t;
using UINT = uint32_t;
using INT = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using UINT_PTR = uintptr_t;
using ULONG_PTR = uintptr_t;
using SIZE_T = size_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPCBYTE = const BYTE*;
using HANDLE = void*;
using PVOID = void*;
using PCCOR_SIGNATURE = const uint8_t*;
using PCOR_SIGNATURE = uint8_t*;
using UVCP_CONSTANT = const void*;


struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

// Values of the 32-bit BOOL. Left alone where a system header already has them as macros.
#ifndef TRUE
constexpr BOOL TRUE = 1;
#endif
#ifndef FALSE
constexpr BOOL FALSE = 0;
#endif

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Status values. Written as unsigned literals and cast so the bit pattern is the published one.
constexpr HRESULT hr_of(uint32_t bits) { return static_cast<HRESULT>(bits); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hr_of(0x80004001);
constexpr HRESULT E_NOINTERFACE = hr_of(0x80004002);
constexpr HRESULT E_POINTER = hr_of(0x80004003);
constexpr HRESULT E_ABORT = hr_of(0x80004004);
constexpr HRESULT E_FAIL = hr_of(0x80004005);
constexpr HRESULT E_UNEXPECTED = hr_of(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = hr_of(0x80070005);
constexpr HRESULT E_HANDLE = hr_of(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = hr_of(0x8007000E);
constexpr HRESULT E_INVALIDARG = hr_of(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = hr_of(0x80040110);
constexpr HRESULT CORPROF_E_PROFILER_CANCEL_ACTIVATION = hr_of(0x80131375);
constexpr HRESULT COR_E_INVALIDPROGRAM = hr_of(0x8013153A);
constexpr HRESULT CLDB_E_RECORD_NOTFOUND = hr_of(0x80131130);
constexpr HRESULT META_E_BADSIGNATURE = hr_of(0x80131192);

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;
};

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
