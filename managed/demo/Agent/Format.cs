// One-line renderings of methods and values for the trace lines.
using System;
using System.Globalization;
using System.Reflection;
using System.Text;
using System.Threading.Tasks;

namespace Nimbrel.Instrumentation.Demo
{
    internal static class Format
    {
        private const int MaxValueLength = 70;

        internal static string Name(MethodBase method)
        {
            return method == null ? "<unknown method>" : method.DeclaringType?.FullName + "." + method.Name;
        }

        internal static string Arguments(MethodBase method, object[] arguments)
        {
            if (arguments == null) return "";
            ParameterInfo[] parameters = method?.GetParameters() ?? Array.Empty<ParameterInfo>();
            var text = new StringBuilder();
            for (int i = 0; i < arguments.Length; ++i)
            {
                if (i > 0) text.Append(", ");
                if (i < parameters.Length) text.Append(parameters[i].Name).Append(": ");
                text.Append(Value(arguments[i]));
            }
            return text.ToString();
        }

        internal static string Returns(MethodBase method, object value)
        {
            if (method is MethodInfo info && info.ReturnType == typeof(void)) return "returned";
            if (method is ConstructorInfo) return "returned";
            return "returned " + Value(value);
        }

        internal static string Value(object value)
        {
            switch (value)
            {
                case null: return "null";
                case string s: return Text(s);
                case char c: return "'" + c + "'";
                case bool b: return b ? "true" : "false";
                case IFormattable f when value.GetType().IsPrimitive || value is decimal:
                    return f.ToString(null, CultureInfo.InvariantCulture);
                case Exception e: return e.GetType().Name + "(" + Text(e.Message) + ")";
                // An async method returns when it first waits: its task is usually running.
                case Task t: return "Task(" + t.Status + ")";
            }
            string rendered = value.ToString() ?? "";
            if (rendered == value.GetType().ToString()) return value.GetType().Name;
            return Shorten(rendered.Replace("\r", " ").Replace("\n", " "));
        }

        internal static string Text(string s) => "\"" + Shorten(s.Replace("\"", "\\\"").Replace("\n", "\\n")) + "\"";

        private static string Shorten(string s) => s.Length <= MaxValueLength ? s : s.Substring(0, MaxValueLength - 3) + "...";
    }
}
