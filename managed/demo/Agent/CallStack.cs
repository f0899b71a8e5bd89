// The traced calls running on each thread, innermost last, with when each started,
// its arguments as they came in, and the exception it is leaving with.
using System;
using System.Collections.Generic;
using System.Diagnostics;

namespace Nimbrel.Instrumentation.Demo
{
    internal sealed class CallFrame
    {
        internal uint MethodId;
        internal long Started;
        internal string Arguments;
        internal Exception Thrown;
    }

    internal static class CallStack
    {
        [ThreadStatic] private static List<CallFrame> frames;

        internal static int Depth => frames == null ? 0 : frames.Count;

        internal static void Enter(uint methodId, string arguments)
        {
            frames ??= new List<CallFrame>();
            frames.Add(new CallFrame { MethodId = methodId, Arguments = arguments, Started = Stopwatch.GetTimestamp() });
        }

        // The exception leaves the innermost traced call: its handler runs before the
        // handler of any caller.
        internal static void MarkThrown(Exception exception)
        {
            if (frames != null && frames.Count > 0) frames[frames.Count - 1].Thrown = exception;
        }

        // The innermost frame of the method, and every frame above it that never ended
        // (a prologue that failed half-way leaves none to pop).
        internal static CallFrame Leave(uint methodId)
        {
            if (frames == null) return null;
            for (int i = frames.Count - 1; i >= 0; --i)
            {
                if (frames[i].MethodId != methodId) continue;
                CallFrame frame = frames[i];
                frames.RemoveRange(i, frames.Count - i);
                return frame;
            }
            return null;
        }
    }
}
