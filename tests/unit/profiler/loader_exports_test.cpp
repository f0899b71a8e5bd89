// The export that hands managed code the embedded loader: the bytes are exactly the
// assembly and PDB the build produced, and every missing argument is refused in order.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "logging/logging_test_support.h"
#include "profiler/clr_profiler.h"

namespace {

std::vector<uint8_t> file_bytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct coreclr_guard {
    explicit coreclr_guard(bool value) { CClrProfiler::is_coreclr_ = value; }
    ~coreclr_guard() { CClrProfiler::is_coreclr_ = false; }
};

TEST(LoaderExport, HandsOutTheBuiltAssemblyAndSymbols) {
#ifndef NIMBREL_LOADER_DLL
    GTEST_SKIP() << "built without the managed loader";
#else
    coreclr_guard coreclr(true);
    BYTE* assembly = nullptr;
    BYTE* symbols = nullptr;
    int32_t assembly_size = -1, symbols_size = -1;
    CClrProfiler::GetAssemblyAndSymbolsBytes(&assembly, &assembly_size, &symbols, &symbols_size);

    auto expected_assembly = file_bytes(NIMBREL_LOADER_DLL);
    auto expected_symbols = file_bytes(NIMBREL_LOADER_PDB);
    ASSERT_FALSE(expected_assembly.empty());
    ASSERT_EQ(static_cast<size_t>(assembly_size), expected_assembly.size());
    ASSERT_EQ(static_cast<size_t>(symbols_size), expected_symbols.size());
    EXPECT_TRUE(std::equal(expected_assembly.begin(), expected_assembly.end(), assembly));
    EXPECT_TRUE(std::equal(expected_symbols.begin(), expected_symbols.end(), symbols));
    EXPECT_EQ(assembly + assembly_size, symbols);  // the PDB follows the assembly

    BYTE* again = nullptr;
    int32_t again_size = 0;
    BYTE* again_symbols = nullptr;
    int32_t again_symbols_size = 0;
    CClrProfiler::GetAssemblyAndSymbolsBytes(&again, &again_size, &again_symbols, &again_symbols_size);
    EXPECT_EQ(again, assembly);
    EXPECT_EQ(again_symbols_size, symbols_size);
#endif
}

TEST(LoaderExport, MissingArgumentsAreRefusedInOrder) {
    configuration_guard settings;
    LoggingConfiguration::config().level = Debug;
    LoggingConfiguration::config().echo_to_stdout = false;
    CClrProfiler::scope.level = Debug;
    coreclr_guard coreclr(true);

    struct row {
        int missing;  // 0..3
        const wchar_t* line;
    };
    const row rows[] = {
        {0, L"CClrProfiler::GetAssemblyAndSymbolsBytes: pAssemblyArray is null pointer."},
        {1, L"CClrProfiler::GetAssemblyAndSymbolsBytes: pAssemblySize is null pointer."},
        {2, L"CClrProfiler::GetAssemblyAndSymbolsBytes: pSymbolsArray is null pointer."},
        {3, L"CClrProfiler::GetAssemblyAndSymbolsBytes: pSymbolsSize is null pointer."},
    };
    for (const auto& r : rows) {
        BYTE* assembly = reinterpret_cast<BYTE*>(0x1);
        BYTE* symbols = reinterpret_cast<BYTE*>(0x1);
        int32_t assembly_size = 7, symbols_size = 7;
        record_capture capture;
        CClrProfiler::GetAssemblyAndSymbolsBytes(r.missing == 0 ? nullptr : &assembly,
                                                 r.missing == 1 ? nullptr : &assembly_size,
                                                 r.missing == 2 ? nullptr : &symbols,
                                                 r.missing == 3 ? nullptr : &symbols_size);
        // Outputs before the missing one are cleared, those after it untouched.
        EXPECT_EQ(assembly, r.missing > 0 ? nullptr : reinterpret_cast<BYTE*>(0x1)) << r.missing;
        EXPECT_EQ(assembly_size, r.missing > 1 ? 0 : 7) << r.missing;
        EXPECT_EQ(symbols, r.missing > 2 ? nullptr : reinterpret_cast<BYTE*>(0x1)) << r.missing;
        EXPECT_EQ(symbols_size, 7) << r.missing;
        auto records = capture.records();
        ASSERT_EQ(records.size(), 1u) << r.missing;
        EXPECT_EQ(records[0].level, Error);
        EXPECT_EQ(records[0].text, r.line);
    }
    CClrProfiler::scope.level = Fatal;
}

TEST(LoaderExport, DesktopRuntimeGetsNothing) {
    coreclr_guard desktop(false);
    BYTE* assembly = reinterpret_cast<BYTE*>(0x1);
    BYTE* symbols = reinterpret_cast<BYTE*>(0x1);
    int32_t assembly_size = 7, symbols_size = 7;
    CClrProfiler::GetAssemblyAndSymbolsBytes(&assembly, &assembly_size, &symbols, &symbols_size);
    EXPECT_EQ(assembly, nullptr);
    EXPECT_EQ(assembly_size, 0);
    EXPECT_EQ(symbols, nullptr);
    EXPECT_EQ(symbols_size, 0);
}

}  // namespace
