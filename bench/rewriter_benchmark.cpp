// Throughput of the IL rewriter over every method body of real assemblies: import and
// export unchanged, import only, and import with 200 nops inserted after the first
// instruction and export. Each iteration rewrites one body, cycling through all of
// them; items are bodies and bytes are the bodies' sizes as stored.
//
// The runtime is a minimal stand-in (the body served from memory, one reused output
// block), so the figures are the rewriter's own cost, allocation of its nodes and
// buffers included.
//
//   rewriter_benchmark [fixture file] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "body_fixture.h"
#include "il/il_rewriter.h"
#include "support/runtime_stubs.h"

namespace {

body_fixture::fixture g_fixture;

// Hands out one block, reused by every export (the runtime's allocator never frees;
// keeping every body would measure memory growth instead of the rewriter).
class reused_block_malloc : public test_support::method_malloc_stub {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    PVOID Alloc(ULONG cb) override {
        if (block_.size() < cb) block_.resize(cb);
        return block_.data();
    }

private:
    std::vector<BYTE> block_;
};

class serving_profiler_info : public test_support::profiler_info_stub {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetILFunctionBody(ModuleID, mdMethodDef, LPCBYTE* body, ULONG* size) override {
        *body = served->bytes.data();
        *size = static_cast<ULONG>(served->bytes.size());
        return S_OK;
    }
    HRESULT GetILFunctionBodyAllocator(ModuleID, IMethodMalloc** allocator) override {
        *allocator = &malloc_;
        return S_OK;
    }
    HRESULT SetILFunctionBody(ModuleID, mdMethodDef, LPCBYTE body) override {
        installed = body;
        return S_OK;
    }

    const body_fixture::body* served = nullptr;
    LPCBYTE installed = nullptr;

private:
    reused_block_malloc malloc_;
};

void insert_nops(ILRewriter& rewriter, int count) {
    ILInstr* first = rewriter.first_instruction();
    if (first == rewriter.GetILList()) return;
    while (first->next->opcode == op::switch_target) first = first->next;  // keep a switch's cases with it
    for (int i = 0; i < count; ++i) {
        ILInstr* nop = rewriter.CreateInstr();
        nop->opcode = op::nop;
        rewriter.InsertAfter(first, nop);
    }
}

enum class work { import_only, import_export, import_insert_export };

void rewrite_bodies(benchmark::State& state, work kind) {
    serving_profiler_info info;
    const auto& bodies = g_fixture.bodies;
    size_t next = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        info.served = &bodies[next];
        bytes += static_cast<int64_t>(bodies[next].bytes.size());
        next = next + 1 == bodies.size() ? 0 : next + 1;
        ILRewriter rewriter(&info, nullptr, 1, info.served->token);
        HRESULT hr = rewriter.Import();
        if (hr == S_OK && kind == work::import_insert_export) insert_nops(rewriter, 200);
        if (hr == S_OK && kind != work::import_only) hr = rewriter.Export();
        if (hr != S_OK) {
            state.SkipWithError("a body failed to round-trip");
            break;
        }
        benchmark::DoNotOptimize(info.installed);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
    state.counters["bodies_in_set"] = static_cast<double>(bodies.size());
}

void BM_Import(benchmark::State& state) { rewrite_bodies(state, work::import_only); }
void BM_ImportExport(benchmark::State& state) { rewrite_bodies(state, work::import_export); }
void BM_ImportInsert200NopsExport(benchmark::State& state) { rewrite_bodies(state, work::import_insert_export); }

// Several passes over the whole set per measurement.
BENCHMARK(BM_Import)->MinTime(3.0);
BENCHMARK(BM_ImportExport)->MinTime(3.0);
BENCHMARK(BM_ImportInsert200NopsExport)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
    std::string path = NIMBREL_DEFAULT_REAL_BODIES;
    if (const char* named = std::getenv("NIMBREL_REAL_BODIES")) path = named;
    if (argc > 1 && argv[1][0] != '-') {
        path = argv[1];
        --argc;
        ++argv;
        argv[0] = argv[-1];
    }
    std::string error;
    if (!body_fixture::read(path, g_fixture, error) || g_fixture.bodies.empty()) {
        std::fprintf(stderr,
                     "rewriter_benchmark: %s\n"
                     "Write the fixture first: ctest --test-dir <build> -R il_real_bodies_extract\n",
                     error.empty() ? "the fixture holds no bodies" : error.c_str());
        return 1;
    }
    std::printf("%zu bodies, %llu bytes, from %zu assemblies (%s)\n", g_fixture.bodies.size(),
                static_cast<unsigned long long>(g_fixture.total_bytes), g_fixture.assemblies.size(), path.c_str());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
