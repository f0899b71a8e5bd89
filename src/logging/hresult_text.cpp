#include "logging/hresult_text.h"

const wchar_t* hresult_text(HRESULT status) {
    switch (status) {
        case E_NOTIMPL: return L"not implemented";
        case E_NOINTERFACE: return L"no such interface supported";
        case E_POINTER: return L"invalid pointer";
        case E_ABORT: return L"operation aborted";
        case E_FAIL: return L"unspecified error";
        case E_UNEXPECTED: return L"catastrophic failure";
        case E_ACCESSDENIED: return L"general access denied error";
        case E_HANDLE: return L"invalid handle";
        case E_OUTOFMEMORY: return L"run out of memory";
        case E_INVALIDARG: return L"invalid argument";
        default: return L"unknown com error";
    }
}
