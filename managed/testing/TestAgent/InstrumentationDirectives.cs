// What the agent tells the wrapped method after the prologue: the indexes of the
// arguments it replaced in the argument array.
using System;
using Nimbrel.Instrumentation.Testing;

namespace Nimbrel.Instrumentation
{
    public class InstrumentationDirectives
    {
        internal int[] Indexes = Array.Empty<int>();

        public InstrumentationDirectives()
        {
            if (AgentRecord.Enabled) AgentRecord.Write("InstrumentationDirectives");
        }

        public int[] GetIndexes()
        {
            if (AgentRecord.Enabled) AgentRecord.Write("GetIndexes", AgentBehaviour.NullIndexes ? "null" : string.Join(",", Indexes));
            AgentBehaviour.MaybeThrow("GetIndexes");
            return AgentBehaviour.NullIndexes ? null : Indexes;
        }
    }
}
