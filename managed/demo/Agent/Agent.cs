// The rest of what the profiler references: the directives the prologue asks for
// (this agent never replaces arguments), the types named in the metadata it defines,
// and the start-up entry the loader calls.
using System;
using System.IO;
using Nimbrel.Instrumentation.Demo;

namespace Nimbrel.Instrumentation
{
    public class InstrumentationDirectives
    {
        public int[] GetIndexes() => Array.Empty<int>();
    }

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
            string where = Path.GetDirectoryName(typeof(TraloInit).Assembly.Location);
            TraceOutput.WriteLine("agent started from " + where);
        }
    }
}

namespace Nimbrel.Instrumentation.Demo
{
    internal static class TraceOutput
    {
        private static readonly object gate = new object();

        internal static void WriteLine(string text)
        {
            lock (gate) Console.Out.WriteLine("[trace] " + text);
        }
    }
}
