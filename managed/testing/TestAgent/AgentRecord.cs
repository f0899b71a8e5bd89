// The record of every agent call, one line each, in call order, to the file named by
// NIMBREL_AGENT_RECORD (nothing is recorded when it is not set):
//   <sequence> TAB <managed thread id> TAB <member> [TAB <field>]...
// Values are "null" or "<runtime type>:<text>" (arrays "<type>:[e0,e1]", doubles
// round-trip, exceptions "<type>:<message>:<identity>"); tab, newline, carriage return
// and backslash inside a field are escaped as \t \n \r \\.
using System;
using System.Collections;
using System.Globalization;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Text;
using System.Threading;

namespace Nimbrel.Instrumentation.Testing
{
    public static class AgentRecord
    {
        public static readonly bool Enabled;
        private static readonly StreamWriter writer;
        private static readonly object gate = new object();
        private static long sequence;

        static AgentRecord()
        {
            string path = Environment.GetEnvironmentVariable("NIMBREL_AGENT_RECORD");
            if (string.IsNullOrEmpty(path)) return;
            writer = new StreamWriter(path, append: true, new UTF8Encoding(false));
            Enabled = true;
            AppDomain.CurrentDomain.ProcessExit += (_, _) => Flush();
            AppDomain.CurrentDomain.UnhandledException += (_, _) => Flush();
        }

        // A line of the application's own, to correlate its view with the agent's.
        public static void Note(params string[] fields) => Write("Note", fields);

        public static void Flush()
        {
            if (!Enabled) return;
            lock (gate) writer.Flush();
        }

        public static void Write(string member, params string[] fields)
        {
            if (!Enabled) return;
            var line = new StringBuilder();
            line.Append(Interlocked.Increment(ref sequence)).Append('\t')
                .Append(Environment.CurrentManagedThreadId).Append('\t').Append(member);
            foreach (string field in fields) line.Append('\t').Append(Escape(field));
            lock (gate) writer.WriteLine(line.ToString());
        }

        public static string[] RenderArguments(object[] arguments)
        {
            if (arguments == null) return new[] { "null" };
            return new[] { arguments.Length.ToString() }.Concat(arguments.Select(Render)).ToArray();
        }

        public static string Render(object value)
        {
            if (value == null) return "null";
            return value.GetType().FullName + ":" + Text(value);
        }

        public static string RenderException(Exception exception)
        {
            if (exception == null) return "null";
            return exception.GetType().FullName + ":" + exception.Message + ":" + Identity(exception);
        }

        public static string Identity(object value) => RuntimeHelpers.GetHashCode(value).ToString();

        public static string Describe(MethodBase method)
        {
            if (method == null) return "null";
            string parameters = string.Join(",", method.GetParameters().Select(p => p.ParameterType.Name));
            return method.DeclaringType?.FullName + "." + method.Name + "(" + parameters + ")";
        }

        private static string Text(object value)
        {
            switch (value)
            {
                case string s: return s;
                case double d: return d.ToString("R", CultureInfo.InvariantCulture);
                case float f: return f.ToString("R", CultureInfo.InvariantCulture);
                case IFormattable formattable: return formattable.ToString(null, CultureInfo.InvariantCulture);
                case Array array:
                    return "[" + string.Join(",", array.Cast<object>().Select(e => e == null ? "null" : Text(e))) + "]";
                case IEnumerable sequence when !(value is IFormattable):
                    return "[" + string.Join(",", sequence.Cast<object>().Select(e => e == null ? "null" : Text(e))) + "]";
                default: return value.ToString();
            }
        }

        private static string Escape(string field)
        {
            if (field == null) return "null";
            var escaped = new StringBuilder(field.Length);
            foreach (char c in field)
            {
                switch (c)
                {
                    case '\\': escaped.Append("\\\\"); break;
                    case '\t': escaped.Append("\\t"); break;
                    case '\n': escaped.Append("\\n"); break;
                    case '\r': escaped.Append("\\r"); break;
                    default: escaped.Append(c); break;
                }
            }
            return escaped.ToString();
        }
    }
}
