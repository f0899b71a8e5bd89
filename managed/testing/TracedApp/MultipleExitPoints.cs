// Table targets Nimbrel.Instrumentation.MultipleExitPoints.*: bodies with several
// returns, returns inside try and catch, switch-heavy code and loops.
using System;
using System.Collections.Generic;

namespace Nimbrel.Instrumentation
{
    public static class MultipleExitPoints
    {
        private static int finallies;

        public static int InstrumentedMethod(int n)
        {
            if (n < 0) return -1;
            if (n == 0) return 0;
            if (n > 100) return 100;
            return n * 2;
        }

        public static string InstrumentedMethod(string s)
        {
            try
            {
                if (s == null) throw new ArgumentNullException(nameof(s));
                if (s.Length == 0) return "empty";
                return s.ToUpperInvariant();
            }
            catch (ArgumentNullException)
            {
                return "null!";
            }
            finally
            {
                finallies++;
            }
        }

        public static string InstrumentedMethod(int day, int hour)
        {
            switch (day)
            {
                case 0: return hour < 12 ? "sun-am" : "sun-pm";
                case 1: return "mon";
                case 2: return "tue";
                case 3:
                    switch (hour)
                    {
                        case 0: case 1: case 2: return "wed-night";
                        case 9: return "wed-nine";
                        default: break;
                    }
                    return "wed";
                case 4: return "thu";
                case 5: return "fri";
                case 6: return "sat";
                default: return "day" + day;
            }
        }

        public static long InstrumentedMethod(long n)
        {
            long acc = 0;
            for (long i = 0; i < n; i++)
            {
                if (i % 3 == 0) continue;
                acc += i;
                if (acc > 1000) return -acc;
            }
            int guard = 0;
            while (acc % 7 != 0 && guard++ < 10) acc++;
            return acc;
        }

        // The last instruction of this body is the loop's back branch: code continues
        // after the last `ret`.
        public static int InstrumentedMethod(double x)
        {
            int i = 0;
            while (true)
            {
                if (i * i >= x) return i;
                i++;
            }
        }

        public static int InstrumentedMethod(int[] values, int wanted)
        {
            for (int i = 0; i < values.Length; i++)
            {
                try
                {
                    if (values[i] == wanted) return i;
                    if (values[i] < 0) throw new ArgumentException("negative");
                }
                catch (ArgumentException)
                {
                    try
                    {
                        if (wanted < 0) return -100;
                    }
                    finally
                    {
                        finallies++;
                    }
                }
            }
            return -1;
        }

        public static void SomeVoidMethod(int n, List<int> sink)
        {
            if (n < 0) return;
            if (n == 0)
            {
                sink.Add(0);
                return;
            }
            for (int i = 1; i <= n; i++) sink.Add(i * i);
        }

        public static void Run()
        {
            foreach (int n in new[] { -5, 0, 7, 500 }) Console.WriteLine("returns(" + n + ") = " + InstrumentedMethod(n));
            foreach (string s in new[] { null, "", "abc" }) Console.WriteLine("try/catch(" + (s ?? "null") + ") = " + InstrumentedMethod(s));
            for (int day = 0; day < 9; day++)
                foreach (int hour in new[] { 1, 9, 13 }) Console.WriteLine("switch(" + day + "," + hour + ") = " + InstrumentedMethod(day, hour));
            foreach (long n in new long[] { 0, 10, 100 }) Console.WriteLine("loops(" + n + ") = " + InstrumentedMethod(n));
            foreach (double x in new[] { 0.0, 10.0, 99.5 }) Console.WriteLine("back branch last(" + x + ") = " + InstrumentedMethod(x));
            int[] values = { 4, -1, 8, 15 };
            foreach (int wanted in new[] { 8, 99, -3 }) Console.WriteLine("nested clauses(" + wanted + ") = " + InstrumentedMethod(values, wanted));
            var sink = new List<int>();
            foreach (int n in new[] { -1, 0, 3 }) SomeVoidMethod(n, sink);
            Console.WriteLine("void: " + string.Join(",", sink));
            Console.WriteLine("finally blocks run: " + finallies);
        }
    }
}
