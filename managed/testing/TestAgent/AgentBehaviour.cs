// What the test agent is told to do besides recording, from the environment:
//   NIMBREL_AGENT_THROW        member names that throw InvalidOperationException after
//                              recording (GenericPrologue,GenericEpilogue,Error,...)
//   NIMBREL_AGENT_REPLACE      "<method>[#<parameter count>]:<index>[=<text>],...;..." - in the
//                              prologue of a method of that name, list each index in
//                              GetIndexes and, when a text is given, put in the argument
//                              array the text converted to the parameter's type ("null"
//                              for null; a class is built from its (string) constructor)
//   NIMBREL_AGENT_NULL_INDEXES "1": GetIndexes returns null
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Linq;

namespace Nimbrel.Instrumentation.Testing
{
    internal static class AgentBehaviour
    {
        private static readonly HashSet<string> throwing = new HashSet<string>(
            (Environment.GetEnvironmentVariable("NIMBREL_AGENT_THROW") ?? "").Split(',', StringSplitOptions.RemoveEmptyEntries));
        internal static readonly bool NullIndexes = Environment.GetEnvironmentVariable("NIMBREL_AGENT_NULL_INDEXES") == "1";
        private static readonly Dictionary<string, List<(int index, string text)>> replacements = ParseReplacements(
            Environment.GetEnvironmentVariable("NIMBREL_AGENT_REPLACE"));

        internal static void MaybeThrow(string member)
        {
            if (throwing.Count != 0 && throwing.Contains(member))
                throw new InvalidOperationException("agent " + member + " fails on purpose");
        }

        internal static void Replace(uint methodId, object[] arguments, InstrumentationDirectives directives)
        {
            if (replacements.Count == 0 || arguments == null) return;
            var method = Invokers.Find(methodId);
            if (method == null) return;
            var parameters = method.GetParameters();
            if (!replacements.TryGetValue(method.Name + "#" + parameters.Length, out var rules) &&
                !replacements.TryGetValue(method.Name, out rules))
                return;
            var indexes = new List<int>();
            foreach (var (index, text) in rules)
            {
                if (index >= arguments.Length || index >= parameters.Length) continue;
                indexes.Add(index);
                if (text == null) continue;
                Type type = parameters[index].ParameterType;
                if (type.IsByRef) type = type.GetElementType();
                arguments[index] = Convert(text, type);
            }
            directives.Indexes = indexes.ToArray();
        }

        private static object Convert(string text, Type type)
        {
            if (text == "null") return null;
            if (type == typeof(string) || type == typeof(object)) return text;
            if (type.IsEnum) return Enum.Parse(type, text);
            if (type.IsPrimitive) return System.Convert.ChangeType(text, type, CultureInfo.InvariantCulture);
            return Activator.CreateInstance(type, text);
        }

        private static Dictionary<string, List<(int, string)>> ParseReplacements(string text)
        {
            var rules = new Dictionary<string, List<(int, string)>>();
            if (string.IsNullOrEmpty(text)) return rules;
            foreach (string methodRule in text.Split(';', StringSplitOptions.RemoveEmptyEntries))
            {
                int colon = methodRule.IndexOf(':');
                var list = new List<(int, string)>();
                foreach (string item in methodRule.Substring(colon + 1).Split(',', StringSplitOptions.RemoveEmptyEntries))
                {
                    int eq = item.IndexOf('=');
                    list.Add(eq < 0 ? (int.Parse(item), null) : (int.Parse(item.Substring(0, eq)), item.Substring(eq + 1)));
                }
                rules[methodRule.Substring(0, colon)] = list;
            }
            return rules;
        }
    }
}
