// Sample application for the end-to-end tests. `TracedApp <scenario>` runs one scenario
// and prints what the program computes; the output must be the same with and without
// the profiler (except where the agent is told to replace arguments). The table
// targets dotnetcore_console_app.Program.myfunction* live here.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Threading;
using Nimbrel.Instrumentation.Testing;

namespace dotnetcore_console_app
{
    public struct Point
    {
        public int X, Y;
        public Point(int x, int y) { X = x; Y = y; }
        public override string ToString() => "(" + X + "," + Y + ")";
    }

    public enum Color { Red, Green, Blue }

    public class Widget
    {
        public string Name;
        public Widget(string name) { Name = name; }
        public override string ToString() => "Widget(" + Name + ")";
    }

    public class Program
    {
        private readonly int seed;
        public Program(int seed) { this.seed = seed; }
        public override string ToString() => "Program(" + seed + ")";

        public static int Main(string[] args)
        {
            string scenario = args.Length > 0 ? args[0] : "arguments";
            switch (scenario)
            {
                case "arguments": Arguments(); break;
                case "exceptions": Exceptions(); break;
                case "exits": Nimbrel.Instrumentation.MultipleExitPoints.Run(); break;
                case "replace": Nimbrel.Instrumentation.MethodArguments.Run(); break;
                case "hotloop": HotLoop(); break;
                case "attributes": Nimbrel.Samples.Traced.Run(); break;
                case "threads": Nimbrel.Samples.Parallel.Run(); break;
                case "http": Nimbrel.Samples.Http.Run(); break;
                case "binding": Binding(); break;
                default: Console.WriteLine("unknown scenario " + scenario); return 2;
            }
            return 0;
        }

        // --- Table targets: argument and return kinds ---

        public static int myfunction(int a, char c, double d, string s, object o, Point p, Color e, ref int r, int[] arr,
                                     List<string> list, KeyValuePair<int, string> pair)
        {
            r += a;
            return a + c + (int)d + s.Length + o.ToString().Length + p.X + (int)e + arr.Sum() + list.Count + pair.Key;
        }

        public static int myfunction(int x) => x * 2 + 1;

        public static long myfunction(long x) => x * 3 + 1;

        public static void myfunction() => Console.WriteLine("void myfunction ran");

        public static Point myfunction(Point p, int dx) => new Point(p.X + dx, p.Y - dx);

        public static string myfunction(string s) => s + "!";

        public static int[] myfunction(int[] values) => values.Select(v => v * v).ToArray();

        public static Color myfunction(Color c) => c == Color.Blue ? Color.Red : c + 1;

        public static List<int> myfunction(List<int> values) => values.Where(v => v % 2 == 0).ToList();

        public static KeyValuePair<string, int> myfunction(string key, int value) => new KeyValuePair<string, int>(key, value * 10);

        public static double myfunction(double x, double y) => x / y;

        public static char myfunctionreturnchar(char c) => char.ToUpperInvariant(c);

        public static object myfunctionreturnobject(int n) => n > 0 ? new Widget("w" + n) : null;

        public string myfunctionwithobject(Widget w) => this + ":" + w;

        public static int myfunctionthrow(int n)
        {
            if (n > 0) return Thrower.Fail(n);
            return -n;
        }

        private static void Arguments()
        {
            int r = 5;
            int sum = myfunction(3, 'x', 2.5, "four", new Widget("o"), new Point(1, 2), Color.Green, ref r, new[] { 1, 2, 3 },
                                 new List<string> { "a", "b" }, new KeyValuePair<int, string>(7, "seven"));
            Console.WriteLine("all kinds: " + sum + " ref=" + r);
            Console.WriteLine("int: " + myfunction(20));
            myfunction();
            Console.WriteLine("struct: " + myfunction(new Point(4, 5), 2));
            Console.WriteLine("string: " + myfunction("hey"));
            Console.WriteLine("array: " + string.Join(",", myfunction(new[] { 2, 3 })));
            Console.WriteLine("enum: " + myfunction(Color.Blue));
            Console.WriteLine("generic class: " + string.Join(",", myfunction(new List<int> { 1, 2, 3, 4 })));
            Console.WriteLine("generic struct: " + myfunction("k", 4));
            Console.WriteLine("double: " + myfunction(1.0, 4.0).ToString("R", System.Globalization.CultureInfo.InvariantCulture));
            Console.WriteLine("char: " + myfunctionreturnchar('q'));
            Console.WriteLine("object: " + myfunctionreturnobject(9) + " null: " + (myfunctionreturnobject(0) == null));
            Console.WriteLine("this: " + new Program(42).myfunctionwithobject(new Widget("arg")));
        }

        // --- Exceptions from the method's own code ---

        private static void Exceptions()
        {
            for (int n = 1; n <= 2; n++)
            {
                try
                {
                    myfunctionthrow(n);
                    Console.WriteLine("no exception");
                }
                catch (InvalidOperationException e)
                {
                    var frames = new StackTrace(e).GetFrames().Select(f => f.GetMethod()?.Name);
                    Console.WriteLine("caught: " + e.Message);
                    Console.WriteLine("same object: " + ReferenceEquals(e, Thrower.LastThrown));
                    Console.WriteLine("frames: " + string.Join(">", frames));
                    AgentRecord.Note("caught", AgentRecord.Identity(e));
                }
            }
            Console.WriteLine("no throw: " + myfunctionthrow(0));
        }

        // --- A target called 20,000 times over more than two seconds ---

        private static void HotLoop()
        {
            long total = 0;
            var clock = Stopwatch.StartNew();
            for (int i = 0; i < 20000; i++)
            {
                total += myfunction(i);
                if (i % 100 == 99) Thread.Sleep(10);
            }
            Console.WriteLine("hot loop total: " + total);
            Console.WriteLine("over two seconds: " + (clock.Elapsed.TotalSeconds > 2));
            Console.WriteLine("optimized caller total: " + OptimizedCaller());
        }

        // Compiled fully optimised at its first call, before its callee was ever
        // compiled on its own: the JIT would inline the callee's original IL.
        [MethodImpl(MethodImplOptions.AggressiveOptimization | MethodImplOptions.NoInlining)]
        private static long OptimizedCaller()
        {
            long total = 0;
            for (long i = 0; i < 1000; i++) total += myfunction(i);
            return total;
        }

        // --- How the runtime binds a reference carrying another public key token ---

        private static void Binding()
        {
            Assembly agent = typeof(tralo.managed.span).Assembly;
            Console.WriteLine("agent: " + agent.FullName);
            foreach (string name in new[] {
                         "tralo.managed.core, Version=4.3.1.0, Culture=neutral, PublicKeyToken=3c9e51d07ab4f862",
                         "tralo.managed.core, Version=4.3.0.0, Culture=neutral, PublicKeyToken=3c9e51d07ab4f862",
                         "tralo.managed.core, Version=4.3.2.0, Culture=neutral, PublicKeyToken=3c9e51d07ab4f862" })
            {
                string result;
                try
                {
                    result = ReferenceEquals(Assembly.Load(new AssemblyName(name)), agent) ? "binds to the agent" : "binds elsewhere";
                }
                catch (Exception e)
                {
                    result = "fails: " + e.GetType().Name;
                }
                Console.WriteLine(name + " -> " + result);
            }
        }
    }

    public static class Thrower
    {
        public static Exception LastThrown;

        [MethodImpl(MethodImplOptions.NoInlining)]
        public static int Fail(int n)
        {
            var e = new InvalidOperationException("boom " + n);
            LastThrown = e;
            throw e;
        }
    }
}
