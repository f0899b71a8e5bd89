// `CallCostBench <target|plain|handwritten> [calls]` prints the mean time of one call
// of the chosen method, measured after a warm-up long enough for tiered compilation to
// settle. With the profiler attached, `target` is wrapped by the rewritten IL; the
// agent records nothing (NIMBREL_AGENT_RECORD unset), so its members do next to nothing.
using System;
using System.Diagnostics;
using System.Reflection;
using System.Runtime.CompilerServices;
using Nimbrel.Instrumentation;
using tralo.managed;

namespace Nimbrel.Instrumentation
{
    public static class MethodArguments
    {
        // A table target.
        public static int InstrumentedMethod(int a, string b) => a * 31 + b.Length;
    }
}

public static class Plain
{
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Method(int a, string b) => a * 31 + b.Length;
}

// What the rewritten IL does, written by hand in C#.
public static class HandWritten
{
    private const uint Id = 1_000_000;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Method(int a, string b)
    {
        int result = 0;
        try
        {
            try
            {
                try
                {
                    if (!Invokers.ContainsKey(Id)) Invokers.RegisterMethod(Id, MethodBase.GetCurrentMethod(), false);
                    var directives = new InstrumentationDirectives();
                    var arguments = new object[] { a, b };
                    span.GenericPrologue(Id, null, arguments, directives);
                    int[] indexes = directives.GetIndexes();
                    for (int i = 0; i < indexes.Length; i++)
                        if (indexes[i] == 0 && arguments[0] != null) a = (int)arguments[0];
                }
                catch (Exception)
                {
                    span.Log(1, "Prologue();");
                }
                result = a * 31 + b.Length;
            }
            catch (Exception e)
            {
                try
                {
                    span.Log(4, "Catch N' Throw");
                    span.Error(null, e);
                }
                catch (Exception)
                {
                    span.Log(1, "Catch N' Throw");
                }
                throw;
            }
        }
        finally
        {
            span.Log(5, "Finally;");
            try
            {
                var directives = new InstrumentationDirectives();
                span.GenericEpilogue(Id, null, new object[] { a, b }, result, directives);
            }
            catch (Exception)
            {
                span.Log(1, "Epilogue();");
            }
        }
        return result;
    }
}

public static class Program
{
    private static long Loop(Func<int, string, int> method, long calls)
    {
        long sum = 0;
        for (long i = 0; i < calls; i++) sum += method((int)i, "bench");
        return sum;
    }

    public static int Main(string[] args)
    {
        string which = args.Length > 0 ? args[0] : "target";
        long calls = args.Length > 1 ? long.Parse(args[1]) : 5_000_000;
        Func<int, string, int> method = which switch
        {
            "target" => MethodArguments.InstrumentedMethod,
            "plain" => Plain.Method,
            "handwritten" => HandWritten.Method,
            _ => throw new ArgumentException(which),
        };
        // Warm-up: enough calls and time for the loop and the method to reach tier 1.
        var warmup = Stopwatch.StartNew();
        while (warmup.ElapsedMilliseconds < 1500) Loop(method, 100_000);
        var clock = Stopwatch.StartNew();
        long sum = Loop(method, calls);
        clock.Stop();
        Console.WriteLine(which + " ns/call: " + (clock.Elapsed.TotalMilliseconds * 1e6 / calls).ToString("F1") + " (sum " + sum + ")");
        return 0;
    }
}
