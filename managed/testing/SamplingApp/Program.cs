// Asks the profiler library for the names of some of this program's own methods,
// reading the answer straight from native memory as any managed caller would, and
// prints one line per fact. It also runs one extra thread and prints its native
// thread id, so the thread callbacks of that thread can be found in the log.
//
// NIMBREL_TEST_LIBRARY names the library; the names only resolve when the runtime
// itself loaded that library as its profiler.
using System;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Sample.Space
{
    static class Tool
    {
        [MethodImpl(MethodImplOptions.NoInlining)]
        public static int Helper(int x) => x * 3;
    }
}

static class Outer
{
    public static class Inner
    {
        [MethodImpl(MethodImplOptions.NoInlining)]
        public static int Work(int x) => x + 1;
    }
}

static unsafe class Program
{
    [DllImport("libc", EntryPoint = "gettid")]
    private static extern int GetTid();

    static int Main()
    {
        string? library = Environment.GetEnvironmentVariable("NIMBREL_TEST_LIBRARY");
        if (string.IsNullOrEmpty(library))
        {
            Console.Error.WriteLine("NIMBREL_TEST_LIBRARY is not set");
            return 2;
        }
        IntPtr handle = NativeLibrary.Load(library);
        var getNames = (delegate* unmanaged[Cdecl]<double**, int, IntPtr*, int>)NativeLibrary.GetExport(handle, "GetFunctionNames");
        var release = (delegate* unmanaged[Cdecl]<IntPtr, void>)NativeLibrary.GetExport(handle, "ReleaseFunctionNames");

        RunWorkerThread();

        double[] ids =
        {
            FunctionId(typeof(Program), nameof(Add)),
            FunctionId(typeof(Program), nameof(ResolveThisOne)),
            FunctionId(typeof(Outer.Inner), nameof(Outer.Inner.Work)),
            FunctionId(typeof(Sample.Space.Tool), nameof(Sample.Space.Tool.Helper)),
            0,
        };
        PrintNames(getNames, release, ids);

        // No identifiers: an array of no elements.
        double* none = null;
        IntPtr empty = IntPtr.Zero;
        int code = getNames(&none, 0, &empty);
        Console.WriteLine($"empty: code={code} count={(empty == IntPtr.Zero ? "null" : (*(ulong*)(empty - 8)).ToString())}");
        release(empty);

        // Missing identifier array or result pointer.
        IntPtr untouched = (IntPtr)0x1234;
        double one = 1;
        double* onePointer = &one;
        Console.WriteLine($"missing_ids: code={getNames(null, 1, &untouched)} result_untouched={(untouched == (IntPtr)0x1234 ? 1 : 0)}");
        Console.WriteLine($"missing_result: code={getNames(&onePointer, 1, null)}");
        GC.KeepAlive(Add(1, 2) + ResolveThisOne() + Outer.Inner.Work(1) + Sample.Space.Tool.Helper(1));
        return 0;
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    static int Add(int a, int b) => a + b;

    [MethodImpl(MethodImplOptions.NoInlining)]
    static int ResolveThisOne() => 42;

    // The runtime's function identifier of a method, compiled first so it is known.
    static double FunctionId(Type type, string name)
    {
        MethodInfo method = type.GetMethod(name, BindingFlags.Static | BindingFlags.Public | BindingFlags.NonPublic)
            ?? throw new MissingMethodException(type.FullName, name);
        RuntimeHelpers.PrepareMethod(method.MethodHandle);
        return (double)(ulong)method.MethodHandle.Value;
    }

    static void PrintNames(delegate* unmanaged[Cdecl]<double**, int, IntPtr*, int> getNames,
                           delegate* unmanaged[Cdecl]<IntPtr, void> release, double[] ids)
    {
        IntPtr result = IntPtr.Zero;
        int code;
        fixed (double* first = ids)
        {
            double** pointers = stackalloc double*[ids.Length];
            for (int i = 0; i < ids.Length; i++) pointers[i] = first + i;
            code = getNames(pointers, ids.Length, &result);
        }
        Console.WriteLine($"names: code={code} count={*(ulong*)(result - 8)}");
        // Each element: the identifier (8 bytes) and two 32-byte wide strings.
        for (int i = 0; i < ids.Length; i++)
        {
            byte* element = (byte*)result + 72 * i;
            bool sameId = *(double*)element == ids[i];
            Console.WriteLine($"name[{i}]: id_echoed={(sameId ? 1 : 0)} type={ReadWide(element + 8)} method={ReadWide(element + 40)}");
        }
        release(result);
    }

    // Pointer to 32-bit characters at 0 and their count at 8; names of at most three
    // characters live inside the object itself, from offset 16.
    static string ReadWide(byte* text)
    {
        byte* characters = *(byte**)text;
        ulong length = *(ulong*)(text + 8);
        string where = characters == text + 16 ? "inplace" : "heap";
        return $"'{Encoding.UTF32.GetString(characters, checked((int)length * 4))}'({where})";
    }

    // A thread that lives and ends while the program runs.
    static void RunWorkerThread()
    {
        int tid = 0;
        var worker = new Thread(() => { tid = GetTid(); }) { Name = "sampling-worker" };
        worker.Start();
        worker.Join();
        Console.WriteLine($"worker_tid={tid}");
    }
}
