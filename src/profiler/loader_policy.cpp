#include "profiler/loader_policy.h"

#include "instrumentation/method_body_instrumenter.h"
#include "logging/hresult_text.h"
#include "profiler/clr_profiler.h"

namespace {

// The log prints identifiers with "%x", which takes 32 bits.
unsigned hex32(UINT_PTR value) { return static_cast<unsigned>(value); }

}  // namespace

std::mutex injected_app_domains_mutex;

const std::unordered_set<std::wstring>& skip_assemblies() {
    static const std::unordered_set<std::wstring> names{
        L"Anonymously Hosted DynamicMethods Assembly",
        L"Nimbrel.TraloManaged.DynamicLoader",
        L"Nimbrel.TraloManaged.DynamicLoader.Framework",
        L"ISymWrapper",
        L"Microsoft.AspNetCore.Mvc.RazorPages",
        L"Microsoft.AspNetCore.Razor.Language",
        L"Microsoft.CSharp",
        L"Microsoft.Extensions.ObjectPool",
        L"Microsoft.Extensions.Options",
        L"MsgPack",
        L"MsgPack.Serialization.EmittingSerializers.GeneratedSerealizers0",
        L"MsgPack.Serialization.EmittingSerializers.GeneratedSerealizers1",
        L"MsgPack.Serialization.EmittingSerializers.GeneratedSerealizers2",
        L"Newtonsoft.Json",
        L"Sigil",
        L"Sigil.Emit.DynamicAssembly",
        L"System",
        L"System.Collections",
        L"System.ComponentModel",
        L"System.Configuration",
        L"System.Console",
        L"System.Core",
        L"System.Diagnostics.DiagnosticSource",
        L"System.IO.FileSystem",
        L"System.Net.Http",
        L"System.Private.CoreLib",
        L"System.Runtime",
        L"System.Runtime.Extensions",
        L"System.Runtime.InteropServices",
        L"System.Runtime.InteropServices.RuntimeInformation",
        L"System.Threading.Tasks",
        L"System.Xml.Linq",
        L"mscorlib",
        L"netstandard",
        L"tralo.managed.core",
        L"tralo.managed",
        L"processmonitoringshim",
    };
    return names;
}

std::unordered_set<AppDomainID>& loader_injected_app_domains() {
    static std::unordered_set<AppDomainID> domains;
    return domains;
}

bool try_claim_loader_domain(AppDomainID domain) {
    std::lock_guard<std::mutex> lock(injected_app_domains_mutex);
    return loader_injected_app_domains().insert(domain).second;
}

bool CClrProfiler::IsManagedLoaderInjectedIntoDomain(AppDomainID domain) {
    std::lock_guard<std::mutex> lock(injected_app_domains_mutex);
    return loader_injected_app_domains().count(domain) != 0;
}

void CClrProfiler::MarkManagedLoaderInjectedIntoDomain(AppDomainID domain) {
    std::lock_guard<std::mutex> lock(injected_app_domains_mutex);
    loader_injected_app_domains().insert(domain);
}

void CClrProfiler::UnmarkManagedLoaderInjectedIntoDomain(AppDomainID domain) {
    std::lock_guard<std::mutex> lock(injected_app_domains_mutex);
    loader_injected_app_domains().erase(domain);
}

HRESULT CClrProfiler::InjectLoadForManagedLoader(method_info& method, bool& injected) {
    injected = false;
    if (skip_assemblies().count(method.assembly_name) != 0) return S_FALSE;

    AppDomainID domain = 0;
    HRESULT hr = GetAssemblyAppDomain(method.assembly_id, &domain);  // logs its own failure
    if (FAILED(hr)) {
        scope.trace_f(Error,
                      L"CClrProfiler::InjectLoadForManagedLoader: unabled to get application domain for AssemblyID=0x%x AssemblyName=%s.",
                      hex32(method.assembly_id), method.assembly_name.c_str());
        return hr;
    }
    // Marked from here on: a method compiled in the same domain on another thread
    // meanwhile is not eligible, so the loader never runs twice in one domain.
    if (!try_claim_loader_domain(domain)) return S_FALSE;

    scope.trace_f(Debug,
                  L"CClrProfiler::InjectLoadForManagedLoader: AppDomainID=0x%x ModuleID=0x%x MethodName=%s.%s method from assembly AssemblyID=0x%x AssemblyName=%s.",
                  hex32(domain), hex32(method.module_id), method.type_name.c_str(), method.method_name.c_str(),
                  hex32(method.assembly_id), method.assembly_name.c_str());
    method_body_instrumenter instrumenter;
    hr = instrumenter.create_startup(profiler_info_.get(), &method);
    if (FAILED(hr)) {
        UnmarkManagedLoaderInjectedIntoDomain(domain);  // the next method of the domain is tried
        scope.trace_f(Error, L"CClrProfiler::InjectLoadForManagedLoader: failed to inject into MethodName=%s.%s method. HRESULT=0x%x (%s).",
                      method.type_name.c_str(), method.method_name.c_str(), hr, hresult_text(hr));
        return hr;
    }
    scope.trace_f(Debug,
                  L"CClrProfiler::InjectLoadForManagedLoader: injected managed loader into MethodName=%s.%s method from assembly AssemblyID=0x%x AssemblyName=%s.",
                  method.type_name.c_str(), method.method_name.c_str(), hex32(method.assembly_id),
                  method.assembly_name.c_str());
    injected = true;
    return S_OK;
}

HRESULT CClrProfiler::AppDomainShutdownFinished(AppDomainID appDomainId, HRESULT hrStatus) {
    if (!IsAttached() || is_shutting_down_.load()) return S_OK;
    try {
        if (SUCCEEDED(hrStatus)) {
            UnmarkManagedLoaderInjectedIntoDomain(appDomainId);
            scope.trace_f(Debug, L"CClrProfiler::AppDomainShutdownFinished(): AppDomainID=0x%x .", hex32(appDomainId));
        } else {
            // The domain may still run code that the loader started; it stays marked.
            scope.trace_f(Debug, L"CClrProfiler::AppDomainShutdownFinished(): AppDomainID=0x%x hrStatus=0x%x (%s).",
                          hex32(appDomainId), hrStatus, hresult_text(hrStatus));
        }
    } catch (...) {
        // Only logging can throw here; the set is already up to date.
    }
    return S_OK;
}
