// The application of the loader's end-to-end tests. It references no agent assembly:
// under the profiler the first method compiled here (Main) loads the managed loader,
// which finds the agent in its installation directory. Everything it prints is
// computed by the program itself.
using System;
using System.Runtime.CompilerServices;
using Nimbrel.Instrumentation;

namespace dotnetcore_console_app
{
    public class Program
    {
        public static int Main(string[] args)
        {
            Console.WriteLine("sum=" + myfunction(2, "three"));
            try
            {
                myfunctionthrow("boom");
            }
            catch (InvalidOperationException e)
            {
                Console.WriteLine("caught=" + e.Message);
            }
            Console.WriteLine("greeting=" + Greeter.Greet("loader"));
            return 0;
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        public static int myfunction(int a, string b)
        {
            return a + b.Length;
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        public static void myfunctionthrow(string message)
        {
            throw new InvalidOperationException(message);
        }
    }

    public static class Greeter
    {
        [Trace]
        [MethodImpl(MethodImplOptions.NoInlining)]
        public static string Greet(string name)
        {
            return "hello " + name;
        }
    }
}

namespace Nimbrel.Instrumentation
{
    // The profiler selects methods by this attribute's full name; the application
    // declares it itself instead of referencing the agent.
    [AttributeUsage(AttributeTargets.Method)]
    public sealed class TraceAttribute : Attribute
    {
    }
}
