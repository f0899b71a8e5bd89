// For the loader tests: records how the agent's own dependency (AgentDependency.dll,
// installed beside the agent) was resolved, as one "AgentDependency" line holding the
// load context's type and the file, or "unresolved:<exception>" when it was not found.
using System;
using System.Runtime.CompilerServices;

namespace Nimbrel.Instrumentation.Testing
{
    internal static class DependencyRecord
    {
        internal static void Write()
        {
            if (!AgentRecord.Enabled) return;
            try
            {
                WriteResolved();
            }
            catch (Exception e)
            {
                AgentRecord.Write("AgentDependency", "unresolved:" + e.GetType().Name);
            }
        }

        // Separate and not inlined: resolving the dependency happens when this method is
        // compiled, which must be inside the handler above.
        [MethodImpl(MethodImplOptions.NoInlining)]
        private static void WriteResolved()
        {
            AgentRecord.Write("AgentDependency", AgentDependency.DependencyProbe.Describe());
        }
    }
}
