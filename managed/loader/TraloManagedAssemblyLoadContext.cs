using System.Reflection;
using System.Runtime.Loader;

namespace Nimbrel.TraloManaged
{
    // Holds the agent's dependencies. It answers only explicit loads from a path, so
    // nothing else is ever resolved into it behind the application's back.
    internal class TraloManagedAssemblyLoadContext : AssemblyLoadContext
    {
        public TraloManagedAssemblyLoadContext() : base()
        {
        }

        protected override Assembly Load(AssemblyName assemblyName)
        {
            return null;
        }
    }
}
