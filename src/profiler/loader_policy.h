// Which JIT-compiled method of an application domain receives the managed loader's
// startup IL (CClrProfiler::InjectLoadForManagedLoader, defined in loader_policy.cpp):
// the first one compiled in the domain whose assembly is not on the skip list. Each
// domain receives the loader once while it lives; a domain whose unloading finished is
// forgotten (its id may come back for a new domain).
//
// Thread-safety: JIT threads claim domains while the runtime's loader thread releases
// them; every access to the domain set goes through injected_app_domains_mutex, held
// for one lookup, insertion or removal. Claiming is one step: the thread that marks a
// domain is the only one that injects into it, and it unmarks the domain again when
// the injection fails so that the next method compiled there is tried. The skip list
// is built on first use (thread-safe) and never changes.
#pragma once

#include <mutex>
#include <string>
#include <unordered_set>

#include "runtime/profiler_types.h"

// Assemblies that never receive the loader: core libraries and facades, common
// framework and serialization libraries and the dynamic assemblies they generate, the
// loader's own assemblies and the agent's. Names compare exactly (case-sensitive).
const std::unordered_set<std::wstring>& skip_assemblies();

// Domains that hold the loader, or are receiving it right now, and have not been
// unloaded since. Guarded by injected_app_domains_mutex.
std::unordered_set<AppDomainID>& loader_injected_app_domains();
extern std::mutex injected_app_domains_mutex;

// Marks `domain` unless it is marked already: true when this caller marked it and so
// is the one to inject the loader there.
bool try_claim_loader_domain(AppDomainID domain);
