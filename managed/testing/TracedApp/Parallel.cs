// Many threads compiling distinct attribute-marked methods at the same moment.
using System;
using System.Linq;
using System.Threading;
using Nimbrel.Instrumentation;

namespace Nimbrel.Samples
{
    public static class Parallel
    {
        public const int Threads = 32, CallsPerThread = 50;

        [Trace] public static int Work00(int x) => x * 1 + 0;
        [Trace] public static int Work01(int x) => x * 2 + 1;
        [Trace] public static int Work02(int x) => x * 3 + 2;
        [Trace] public static int Work03(int x) => x * 4 + 3;
        [Trace] public static int Work04(int x) => x * 5 + 4;
        [Trace] public static int Work05(int x) => x * 6 + 5;
        [Trace] public static int Work06(int x) => x * 7 + 6;
        [Trace] public static int Work07(int x) => x * 8 + 7;
        [Trace] public static int Work08(int x) => x * 9 + 8;
        [Trace] public static int Work09(int x) => x * 10 + 9;
        [Trace] public static int Work10(int x) => x * 11 + 10;
        [Trace] public static int Work11(int x) => x * 12 + 11;
        [Trace] public static int Work12(int x) => x * 13 + 12;
        [Trace] public static int Work13(int x) => x * 14 + 13;
        [Trace] public static int Work14(int x) => x * 15 + 14;
        [Trace] public static int Work15(int x) => x * 16 + 15;
        [Trace] public static int Work16(int x) => x * 17 + 16;
        [Trace] public static int Work17(int x) => x * 18 + 17;
        [Trace] public static int Work18(int x) => x * 19 + 18;
        [Trace] public static int Work19(int x) => x * 20 + 19;
        [Trace] public static int Work20(int x) => x * 21 + 20;
        [Trace] public static int Work21(int x) => x * 22 + 21;
        [Trace] public static int Work22(int x) => x * 23 + 22;
        [Trace] public static int Work23(int x) => x * 24 + 23;
        [Trace] public static int Work24(int x) => x * 25 + 24;
        [Trace] public static int Work25(int x) => x * 26 + 25;
        [Trace] public static int Work26(int x) => x * 27 + 26;
        [Trace] public static int Work27(int x) => x * 28 + 27;
        [Trace] public static int Work28(int x) => x * 29 + 28;
        [Trace] public static int Work29(int x) => x * 30 + 29;
        [Trace] public static int Work30(int x) => x * 31 + 30;
        [Trace] public static int Work31(int x) => x * 32 + 31;

        private static int Call(int which, int x)
        {
            switch (which)
            {
                case 0: return Work00(x);
                case 1: return Work01(x);
                case 2: return Work02(x);
                case 3: return Work03(x);
                case 4: return Work04(x);
                case 5: return Work05(x);
                case 6: return Work06(x);
                case 7: return Work07(x);
                case 8: return Work08(x);
                case 9: return Work09(x);
                case 10: return Work10(x);
                case 11: return Work11(x);
                case 12: return Work12(x);
                case 13: return Work13(x);
                case 14: return Work14(x);
                case 15: return Work15(x);
                case 16: return Work16(x);
                case 17: return Work17(x);
                case 18: return Work18(x);
                case 19: return Work19(x);
                case 20: return Work20(x);
                case 21: return Work21(x);
                case 22: return Work22(x);
                case 23: return Work23(x);
                case 24: return Work24(x);
                case 25: return Work25(x);
                case 26: return Work26(x);
                case 27: return Work27(x);
                case 28: return Work28(x);
                case 29: return Work29(x);
                case 30: return Work30(x);
                case 31: return Work31(x);
                default: throw new ArgumentOutOfRangeException(nameof(which));
            }
        }

        public static void Run()
        {
            var start = new Barrier(Threads);
            long[] totals = new long[Threads];
            var threads = Enumerable.Range(0, Threads).Select(t => new Thread(() =>
            {
                start.SignalAndWait();
                for (int i = 0; i < CallsPerThread; i++) totals[t] += Call(t, i);
            })).ToList();
            threads.ForEach(t => t.Start());
            threads.ForEach(t => t.Join());
            Console.WriteLine("totals: " + string.Join(",", totals));
        }
    }
}
