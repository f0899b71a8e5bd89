// Loaded from memory into every application domain by the profiler's startup IL.
// Creating an instance runs the static initialisation once per domain: it finds the
// agent's installation directory, lets the agent's assemblies and their dependencies
// resolve from there, loads the agent and calls its initialisation.
using System;
using System.IO;
using System.Reflection;

namespace Nimbrel.TraloManaged
{
    public class DynamicLoader
    {
        internal static readonly string ASSEMBLY_INFO = ", Version=4.3.1.0, Culture=neutral, PublicKeyToken=3c9e51d07ab4f862";
        internal static readonly string TRALO_MANAGED_ASSEMBLY = "tralo.managed.core" + ASSEMBLY_INFO;
        internal static readonly string NETCOREAPP31_DIR = "netcoreapp3.1";
        internal static readonly string NETSTANDARD20_DIR = "netstandard2.0";

        internal static string TraloManagedDirectory { get; }

        internal static TraloManagedAssemblyLoadContext DependencyLoadContext { get; }

        static DynamicLoader()
        {
            DependencyLoadContext = new TraloManagedAssemblyLoadContext();
            TraloManagedDirectory = GetTraloManagedDirectory();
            AppDomain.CurrentDomain.AssemblyResolve += AssemblyResolve_TraloManagedDependencies;
            LoadTraloManagedAssembly();
        }

        public DynamicLoader()
        {
        }

        private static void LoadTraloManagedAssembly()
        {
            try
            {
                Assembly agent = Assembly.Load(TRALO_MANAGED_ASSEMBLY);
                if (agent == null)
                {
                    return;
                }
                Type init = agent.GetType("Nimbrel.Instrumentation.Internal.TraloInit", false);
                MethodInfo initialize = init?.GetMethod("Initialize", Type.EmptyTypes);
                initialize?.Invoke(null, null);
            }
            catch (Exception e)
            {
                Console.WriteLine("Exception: {0}", e.Message);
            }
        }

        private static string GetTraloManagedDirectory()
        {
            Version runtime = Environment.Version;
            string framework = (runtime.Major == 3 && runtime.Minor >= 1) || runtime.Major >= 5
                ? NETCOREAPP31_DIR
                : NETSTANDARD20_DIR;

            string home = Environment.GetEnvironmentVariable("NIMBREL_HOME_APM_DOTNET");
            if (!string.IsNullOrEmpty(home))
            {
                string candidate = Path.Combine(home, framework);
                if (Directory.Exists(candidate))
                {
                    return candidate;
                }
            }

            string sized = IntPtr.Size == 8 ? "CORECLR_PROFILER_PATH_64" : "CORECLR_PROFILER_PATH_32";
            foreach (string variable in new[] { sized, "CORECLR_PROFILER_PATH" })
            {
                string library = Environment.GetEnvironmentVariable(variable);
                if (string.IsNullOrEmpty(library))
                {
                    continue;
                }
                // The library sits in <home>/<runtime>/<native>; the agent one level up.
                string candidate = Path.Combine(Path.GetDirectoryName(Path.GetDirectoryName(library)) ?? string.Empty, framework);
                if (Directory.Exists(candidate))
                {
                    return candidate;
                }
            }

            string own = OwnDirectory();
            if (own != null)
            {
                string candidate = Path.Combine(Path.Combine(own, "Nimbrel"), framework);
                if (Directory.Exists(candidate))
                {
                    return candidate;
                }
            }
            return string.Empty;
        }

        // The folder of the loader's own code base; none when it was loaded from memory.
        private static string OwnDirectory()
        {
            try
            {
                string codeBase = typeof(DynamicLoader).Assembly.CodeBase;
                return string.IsNullOrEmpty(codeBase) ? null : Path.GetDirectoryName(new Uri(codeBase).LocalPath);
            }
            catch (Exception)
            {
                return null;
            }
        }

        private static Assembly AssemblyResolve_TraloManagedDependencies(object sender, ResolveEventArgs args)
        {
            AssemblyName requested = new AssemblyName(args.Name);
            string name = requested.Name ?? string.Empty;
            if (string.Equals(name, "System.Private.CoreLib.resources", StringComparison.OrdinalIgnoreCase))
            {
                return null;
            }

            string file = Path.Combine(TraloManagedDirectory, name + ".dll");
            bool isAgent = string.Equals(name, "tralo.managed.core", StringComparison.OrdinalIgnoreCase)
                || name.StartsWith("Nimbrel", StringComparison.OrdinalIgnoreCase);
            if (!File.Exists(file))
            {
                return null;
            }
            // The agent's own assemblies go to the default context; their dependencies to
            // the loader's context, so they cannot clash with the application's copies.
            return isAgent ? Assembly.LoadFrom(file) : DependencyLoadContext.LoadFromAssemblyPath(file);
        }
    }
}
