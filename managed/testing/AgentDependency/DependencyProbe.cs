// Tells where this assembly was loaded from and into which load context, so a test
// can see how the agent's dependencies were resolved.
using System.Runtime.Loader;

namespace AgentDependency
{
    public static class DependencyProbe
    {
        // "<load context type>|<file>": the context's type names the loader's own context.
        public static string Describe()
        {
            var assembly = typeof(DependencyProbe).Assembly;
            var context = AssemblyLoadContext.GetLoadContext(assembly);
            return (context == null ? "none" : context.GetType().FullName) + "|" + assembly.Location;
        }
    }
}
