// Table target Nimbrel.Instrumentation.MethodArguments.InstrumentedMethod: the agent
// may replace arguments through GetIndexes; each overload prints what it received.
using System;
using System.Globalization;
using dotnetcore_console_app;

namespace Nimbrel.Instrumentation
{
    public static class MethodArguments
    {
        public static string InstrumentedMethod(Widget widget, object any, int number, string text, double real, char letter)
        {
            return widget + "|" + any + "|" + number + "|" + text + "|" + real.ToString("R", CultureInfo.InvariantCulture) + "|" + letter;
        }

        // By-reference parameters: the agent sees their values, and a replacement must
        // never be stored into the reference slot itself.
        public static string InstrumentedMethod(ref int counter, ref string label, out Widget made, ref object boxed)
        {
            counter++;
            label += "+";
            made = new Widget("made");
            boxed = "boxed:" + boxed;
            return counter + "|" + label + "|" + made + "|" + boxed;
        }

        public static void Run()
        {
            Console.WriteLine("values: " + InstrumentedMethod(new Widget("original"), "any", 1, "text", 0.5, 'a'));
            int counter = 10;
            string label = "L";
            object boxed = 3;
            string result = InstrumentedMethod(ref counter, ref label, out Widget made, ref boxed);
            Console.WriteLine("by reference: " + result + " after: " + counter + "|" + label + "|" + made + "|" + boxed);
        }
    }
}
