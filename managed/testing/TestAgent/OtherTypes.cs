// The remaining types the profiler references in an instrumented module or that the
// loader and applications use.
using System;
using Nimbrel.Instrumentation.Testing;

namespace Nimbrel.Instrumentation
{
    // Marks a method to be wrapped with selection flag 1.
    [AttributeUsage(AttributeTargets.Method | AttributeTargets.Constructor, Inherited = false)]
    public sealed class TraceAttribute : Attribute
    {
    }

    public delegate void MethodArgumentCallback(uint methodId, object[] arguments);

    public class MethodData
    {
        public uint MethodId;
        public string Name;
    }
}

namespace Nimbrel.Instrumentation.Internal
{
    public static class TraloInit
    {
        public static void Initialize()
        {
            AgentRecord.Write("TraloInit.Initialize");
            DependencyRecord.Write();  // loader tests
        }
    }
}
