// The registry of wrapped methods: each method id is registered once, with the method
// and the reason it is traced (false: target table, true: trace attribute).
using System.Collections.Concurrent;
using System.Reflection;
using Nimbrel.Instrumentation.Testing;

namespace Nimbrel.Instrumentation
{
    public static class Invokers
    {
        private static readonly ConcurrentDictionary<uint, MethodBase> methods = new ConcurrentDictionary<uint, MethodBase>();

        public static bool ContainsKey(uint methodId)
        {
            bool known = methods.ContainsKey(methodId);
            if (AgentRecord.Enabled) AgentRecord.Write("ContainsKey", methodId.ToString(), known ? "1" : "0");
            AgentBehaviour.MaybeThrow("ContainsKey");
            return known;
        }

        public static void RegisterMethod(uint methodId, MethodBase method, bool selectedByAttribute)
        {
            methods[methodId] = method;
            if (AgentRecord.Enabled)
                AgentRecord.Write("RegisterMethod", methodId.ToString(), AgentRecord.Describe(method), selectedByAttribute ? "1" : "0");
            AgentBehaviour.MaybeThrow("RegisterMethod");
        }

        internal static MethodBase Find(uint methodId) => methods.TryGetValue(methodId, out var method) ? method : null;
    }
}
