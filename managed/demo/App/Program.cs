// The demo application: a few ordinary calls. Some are in the profiler's target table
// (the dotnetcore_console_app.Program.myfunction* methods, HttpClient.Send and
// HttpClientHandler.SendAsync), some carry [Trace]; the rest are not traced. It prints
// only what it computes; under the profiler the agent adds its own lines.
using System;
using System.Net.Http;
using System.Runtime.CompilerServices;
using Nimbrel.Instrumentation;

namespace dotnetcore_console_app
{
    public class Program
    {
        public static int Main()
        {
            Console.WriteLine("sum = " + myfunction(2, "three"));
            try
            {
                myfunctionthrow("out of stock");
            }
            catch (InvalidOperationException e)
            {
                Console.WriteLine("caught: " + e.Message);
            }

            var cart = new Shop.Cart();
            cart.Add("tea", 2, 3.50m);
            cart.Add("cake", 1, 4.25m);
            Console.WriteLine("total = " + cart.Total(0.10m));
            Console.WriteLine("initial = " + myfunctionreturnchar("nimbrel"));

            using (var server = new LoopbackServer("hello from loopback"))
            using (var client = new HttpClient())
            {
                var response = client.Send(new HttpRequestMessage(HttpMethod.Get, server.Url + "greeting"));
                Console.WriteLine("GET /greeting -> " + (int)response.StatusCode);
                Console.WriteLine("GET /text -> " + client.GetStringAsync(server.Url + "text").Result);
            }
            return 0;
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        public static int myfunction(int a, string b) => a + b.Length;

        [MethodImpl(MethodImplOptions.NoInlining)]
        public static void myfunctionthrow(string reason)
        {
            if (reason.Length > 0) throw new InvalidOperationException(reason);
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        public static char myfunctionreturnchar(string word) => char.ToUpperInvariant(word[0]);
    }
}

namespace Shop
{
    public class Cart
    {
        private decimal subtotal;

        [Trace]
        public void Add(string item, int quantity, decimal price)
        {
            subtotal += quantity * price;
        }

        [Trace]
        public decimal Total(decimal discount)
        {
            return Math.Round(subtotal * (1 - discount), 2);
        }
    }
}

namespace Nimbrel.Instrumentation
{
    // The profiler traces methods carrying an attribute of this full name; the
    // application declares it itself and needs nothing from the agent.
    [AttributeUsage(AttributeTargets.Method)]
    public sealed class TraceAttribute : Attribute
    {
    }
}
