// The export through which the startup IL obtains the embedded managed loader. The
// addresses point into the library's own read-only data: nothing is allocated, and
// the caller copies the bytes before using them.
#include "profiler/clr_profiler.h"
#include "resources/embedded_loader.h"

void CClrProfiler::GetAssemblyAndSymbolsBytes(BYTE** pAssemblyArray, int32_t* pAssemblySize, BYTE** pSymbolsArray,
                                              int32_t* pSymbolsSize) {
    if (pAssemblyArray == nullptr) {
        scope.trace_f(Error, L"CClrProfiler::GetAssemblyAndSymbolsBytes: pAssemblyArray is null pointer.");
        return;
    }
    *pAssemblyArray = nullptr;
    if (pAssemblySize == nullptr) {
        scope.trace_f(Error, L"CClrProfiler::GetAssemblyAndSymbolsBytes: pAssemblySize is null pointer.");
        return;
    }
    *pAssemblySize = 0;
    if (pSymbolsArray == nullptr) {
        scope.trace_f(Error, L"CClrProfiler::GetAssemblyAndSymbolsBytes: pSymbolsArray is null pointer.");
        return;
    }
    *pSymbolsArray = nullptr;
    if (pSymbolsSize == nullptr) {
        scope.trace_f(Error, L"CClrProfiler::GetAssemblyAndSymbolsBytes: pSymbolsSize is null pointer.");
        return;
    }
    *pSymbolsSize = 0;

    if (!IsCoreCLR()) {
        scope.trace_f(Debug, L"CClrProfiler::GetAssemblyAndSymbolsBytes: function invoked from .NET Framework.");
        scope.trace_f(Debug, L"CClrProfiler::GetAssemblyAndSymbolsBytes: function is only supported on .NET Core.");
        return;
    }
    scope.trace_f(Debug, L"CClrProfiler::GetAssemblyAndSymbolsBytes: function invoked from .NET Core.");
    embedded_blob assembly = embedded_loader_assembly();
    embedded_blob symbols = embedded_loader_symbols();
    // The runtime's copy routine takes the bytes as its own; the const is ours.
    *pAssemblySize = static_cast<int32_t>(assembly.size);
    *pAssemblyArray = const_cast<BYTE*>(assembly.data);
    *pSymbolsSize = static_cast<int32_t>(symbols.size);
    *pSymbolsArray = const_cast<BYTE*>(symbols.data);
    scope.trace_f(Debug, L"CClrProfiler::GetAssemblyAndSymbolsBytes: succesfully loaded managed loader assembly (%d) and symbols (%d).",
                  *pAssemblySize, *pSymbolsSize);
}

extern "C" __attribute__((visibility("default"))) void GetAssemblyAndSymbolsBytes(BYTE** pAssemblyArray,
                                                                                  int32_t* pAssemblySize,
                                                                                  BYTE** pSymbolsArray,
                                                                                  int32_t* pSymbolsSize) {
    try {
        CClrProfiler::GetAssemblyAndSymbolsBytes(pAssemblyArray, pAssemblySize, pSymbolsArray, pSymbolsSize);
    } catch (...) {
        // Tracing never throws; nothing else here can. Outputs already cleared stay so.
    }
}
