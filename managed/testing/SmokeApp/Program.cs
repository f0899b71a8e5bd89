// A small console program whose output and exit code must be the same with and
// without the profiler. What it learns about the profiler goes to a separate report
// file (NIMBREL_TEST_REPORT), never to its standard output.
using System;
using System.IO;
using System.Linq;
using System.Diagnostics;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;

static class Program
{
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    private delegate int IsProfilerAttachedFn();

    static int Main(string[] args)
    {
        var words = new[] { "alpha", "beta", "gamma", "delta" };
        Console.WriteLine("smoke: " + string.Join(",", words.OrderByDescending(w => w.Length).ThenBy(w => w)));
        long sum = 0;
        for (int i = 1; i <= 1000; i++) sum += Fib(i % 20);
        Console.WriteLine("sum: " + sum);
        try { Throw(); } catch (InvalidOperationException e) { Console.WriteLine("caught: " + e.Message); }

        WriteReport();
        return args.Length > 0 ? int.Parse(args[0]) : 7;
    }

    static long Fib(int n) => n < 2 ? n : Fib(n - 1) + Fib(n - 2);

    static void Throw() => throw new InvalidOperationException("expected");

    static void WriteReport()
    {
        string? reportPath = Environment.GetEnvironmentVariable("NIMBREL_TEST_REPORT");
        if (string.IsNullOrEmpty(reportPath)) return;

        bool mapped = File.ReadAllText("/proc/self/maps").Contains("NimbrelProfiler.so");
        string attached = "unknown";
        string? library = Environment.GetEnvironmentVariable("NIMBREL_TEST_LIBRARY");
        if (!string.IsNullOrEmpty(library))
        {
            IntPtr handle = NativeLibrary.Load(library);
            var fn = Marshal.GetDelegateForFunctionPointer<IsProfilerAttachedFn>(
                NativeLibrary.GetExport(handle, "IsProfilerAttached"));
            attached = fn().ToString();
        }
        File.WriteAllText(reportPath,
            $"mapped={(mapped ? 1 : 0)}\nattached={attached}\nruntime={Environment.Version}\ninlined={(InlinedFrames() ? 1 : 0)}\n");
    }

    // Outer is compiled fully optimised at once, so the JIT inlines Inner into it unless
    // inlining was switched off for the process: then Inner shows up as a frame of its own.
    [MethodImpl(MethodImplOptions.AggressiveOptimization | MethodImplOptions.NoInlining)]
    static bool InlinedFrames() => Inner() == OuterFrames();

    [MethodImpl(MethodImplOptions.AggressiveInlining)]
    static int Inner() => new StackTrace().FrameCount;

    [MethodImpl(MethodImplOptions.NoInlining)]
    static int OuterFrames() => new StackTrace().FrameCount - 1;
}
