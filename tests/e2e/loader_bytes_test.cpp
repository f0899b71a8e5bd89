// The embedded loader as managed code receives it through GetAssemblyAndSymbolsBytes
// in a profiled process: our assembly and its PDB, loadable and matching each other.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/dotnet_app.h"

namespace e2e {
namespace {

TEST(LoaderBytes, ManagedCodeReceivesTheEmbeddedLoaderAndItsSymbols) {
    std::string loader_dir = std::string(NIMBREL_MANAGED_DIR) + "/Nimbrel.TraloManaged.DynamicLoader/";
    auto dll_size = std::filesystem::file_size(loader_dir + "Nimbrel.TraloManaged.DynamicLoader.dll");
    auto pdb_size = std::filesystem::file_size(loader_dir + "Nimbrel.TraloManaged.DynamicLoader.pdb");

    auto options = dotnet_app("LoaderBytesApp");
    with_profiler(options);
    options.env["NIMBREL_TEST_LIBRARY"] = profiler_library_path();
    child_result result = run_child(options);
    ASSERT_FALSE(result.timed_out);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;

    const std::string& out = result.out;
    EXPECT_NE(out.find("assembly-size=" + std::to_string(dll_size) + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("symbols-size=" + std::to_string(pdb_size) + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("assembly-name=Nimbrel.TraloManaged.DynamicLoader, Version=4.3.1.0, Culture=neutral, PublicKeyToken="),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("loader-type=1"), std::string::npos) << out;
    EXPECT_NE(out.find("pdb-matches=1"), std::string::npos) << out;
    EXPECT_NE(out.find("null-symbols: assembly=0 size=0 symbols-size=77"), std::string::npos) << out;
    EXPECT_NE(out.find("all-null=survived"), std::string::npos) << out;
}

}  // namespace
}  // namespace e2e
