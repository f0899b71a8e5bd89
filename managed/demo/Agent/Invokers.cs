// The registry of traced methods: the rewritten IL registers each method once under
// the id the profiler gave it.
using System.Collections.Concurrent;
using System.Reflection;

namespace Nimbrel.Instrumentation
{
    public static class Invokers
    {
        private static readonly ConcurrentDictionary<uint, MethodBase> methods = new ConcurrentDictionary<uint, MethodBase>();

        public static bool ContainsKey(uint methodId) => methods.ContainsKey(methodId);

        // selectedByAttribute: false for a method of the profiler's target table, true for
        // one marked with [Trace].
        public static void RegisterMethod(uint methodId, MethodBase method, bool selectedByAttribute)
        {
            methods[methodId] = method;
        }

        internal static MethodBase Find(uint methodId) => methods.TryGetValue(methodId, out var method) ? method : null;
    }
}
