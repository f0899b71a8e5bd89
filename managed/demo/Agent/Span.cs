// Entry and exit of every traced method, as the rewritten IL calls them. Each call is
// printed when it ends, as one line: the method, its arguments, what it returned or
// threw, and how long it took. Calls nested in a traced call are indented under it
// (they end, and print, before it).
using System;
using System.Diagnostics;
using Nimbrel.Instrumentation;
using Nimbrel.Instrumentation.Demo;

namespace tralo.managed
{
    public static class span
    {
        // Level 1 is an agent failure caught by the traced method; 4 and 5 mark an
        // exception on its way out and the finally block, which the lines already show.
        public static void Log(int level, string text)
        {
            if (level == 1) TraceOutput.WriteLine("agent failure: " + text);
        }

        // Called from the traced method's handler as the exception leaves it; the
        // epilogue that follows reports it.
        public static bool Error(string text, Exception exception)
        {
            CallStack.MarkThrown(exception);
            return true;
        }

        public static void GenericPrologue(uint methodId, object self, object[] arguments, InstrumentationDirectives directives)
        {
            CallStack.Enter(methodId, Format.Arguments(Invokers.Find(methodId), arguments));
        }

        public static void GenericEpilogue(uint methodId, object self, object[] arguments, object returnValue,
                                           InstrumentationDirectives directives)
        {
            CallFrame frame = CallStack.Leave(methodId);
            if (frame == null) return;
            double milliseconds = (Stopwatch.GetTimestamp() - frame.Started) * 1000.0 / Stopwatch.Frequency;
            var method = Invokers.Find(methodId);
            string outcome = frame.Thrown != null
                ? "threw " + frame.Thrown.GetType().Name + "(" + Format.Text(frame.Thrown.Message) + ")"
                : Format.Returns(method, returnValue);
            TraceOutput.WriteLine(new string(' ', 2 * CallStack.Depth) + Format.Name(method) + "(" + frame.Arguments +
                                  ") " + outcome + " in " + milliseconds.ToString("0.000") + " ms");
        }
    }
}
