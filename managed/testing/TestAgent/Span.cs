// The agent's entry and exit members as the rewritten IL calls them.
using System;
using System.Collections.Generic;
using Nimbrel.Instrumentation;
using Nimbrel.Instrumentation.Testing;

namespace tralo.managed
{
    public static class span
    {
        // id, this, argument count, arguments, then any trailing fields.
        private static string[] Fields(uint methodId, object self, object[] arguments, params string[] trailing)
        {
            var fields = new List<string> { methodId.ToString(), AgentRecord.Render(self) };
            fields.AddRange(AgentRecord.RenderArguments(arguments));
            fields.AddRange(trailing);
            return fields.ToArray();
        }

        public static void Log(int level, string text)
        {
            AgentRecord.Write("Log", level.ToString(), text);
            AgentBehaviour.MaybeThrow("Log");
        }

        public static bool Error(string text, Exception exception)
        {
            AgentRecord.Write("Error", AgentRecord.Render(text), AgentRecord.RenderException(exception));
            AgentBehaviour.MaybeThrow("Error");
            return true;
        }

        public static void GenericPrologue(uint methodId, object self, object[] arguments, InstrumentationDirectives directives)
        {
            if (AgentRecord.Enabled)
                AgentRecord.Write("GenericPrologue", Fields(methodId, self, arguments));
            AgentBehaviour.Replace(methodId, arguments, directives);
            AgentBehaviour.MaybeThrow("GenericPrologue");
        }

        public static void GenericEpilogue(uint methodId, object self, object[] arguments, object returnValue,
                                           InstrumentationDirectives directives)
        {
            if (AgentRecord.Enabled)
                AgentRecord.Write("GenericEpilogue", Fields(methodId, self, arguments, AgentRecord.Render(returnValue)));
            AgentBehaviour.MaybeThrow("GenericEpilogue");
        }
    }
}
