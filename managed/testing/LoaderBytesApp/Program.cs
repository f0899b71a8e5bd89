// Calls the library's GetAssemblyAndSymbolsBytes the way the startup IL does and
// checks what comes back: an assembly and a PDB that load together and belong to
// each other. Prints one "key=value" line per fact.
using System;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Reflection.Metadata;
using System.Reflection.PortableExecutable;
using System.Runtime.InteropServices;
using System.Runtime.Loader;

static unsafe class Program
{
    static int Main()
    {
        string library = Environment.GetEnvironmentVariable("NIMBREL_TEST_LIBRARY")
            ?? throw new InvalidOperationException("NIMBREL_TEST_LIBRARY is not set");
        var export = (delegate* unmanaged[Cdecl]<IntPtr*, int*, IntPtr*, int*, void>)
            NativeLibrary.GetExport(NativeLibrary.Load(library), "GetAssemblyAndSymbolsBytes");

        IntPtr assemblyAddress, symbolsAddress;
        int assemblySize, symbolsSize;
        export(&assemblyAddress, &assemblySize, &symbolsAddress, &symbolsSize);
        Console.WriteLine($"assembly-size={assemblySize}");
        Console.WriteLine($"symbols-size={symbolsSize}");
        if (assemblySize <= 0 || symbolsSize <= 0) return 1;

        byte[] assembly = new byte[assemblySize];
        byte[] symbols = new byte[symbolsSize];
        Marshal.Copy(assemblyAddress, assembly, 0, assemblySize);
        Marshal.Copy(symbolsAddress, symbols, 0, symbolsSize);

        var context = new AssemblyLoadContext("loader-check", isCollectible: true);
        Assembly loaded = context.LoadFromStream(new MemoryStream(assembly), new MemoryStream(symbols));
        Console.WriteLine($"assembly-name={loaded.GetName().FullName}");
        Console.WriteLine($"loader-type={(loaded.GetType("Nimbrel.TraloManaged.DynamicLoader") != null ? 1 : 0)}");
        Console.WriteLine($"pdb-matches={(PdbBelongsToAssembly(assembly, symbols) ? 1 : 0)}");

        // A missing output is refused without touching the ones after it.
        IntPtr untouched = new IntPtr(0x1234);
        int untouchedSize = 77;
        export(&assemblyAddress, &assemblySize, null, &untouchedSize);
        Console.WriteLine($"null-symbols: assembly={(assemblyAddress == IntPtr.Zero ? 0 : 1)} size={assemblySize} symbols-size={untouchedSize}");
        export(null, null, null, null);
        Console.WriteLine("all-null=survived");
        return 0;
    }

    // The assembly's CodeView entry names the PDB by GUID and stamp; the PDB's id is
    // that GUID followed by the stamp.
    static bool PdbBelongsToAssembly(byte[] assembly, byte[] symbols)
    {
        using var pe = new PEReader(new MemoryStream(assembly));
        var codeView = pe.ReadDebugDirectory().First(e => e.Type == DebugDirectoryEntryType.CodeView);
        var data = pe.ReadCodeViewDebugDirectoryData(codeView);
        using var provider = MetadataReaderProvider.FromPortablePdbStream(new MemoryStream(symbols));
        var id = new BlobContentId(provider.GetMetadataReader().DebugMetadataHeader!.Id);
        return id.Guid == data.Guid && id.Stamp == codeView.Stamp;
    }
}
