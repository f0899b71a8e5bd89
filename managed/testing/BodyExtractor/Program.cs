// Writes every IL method body of real assemblies to one fixture file, for the
// rewriter's round-trip test and benchmark.
//
//   dotnet BodyExtractor.dll <output file> [assembly ...]
//
// Without assembly arguments it reads, from the installation running this tool:
// System.Private.CoreLib, System.Linq, System.Text.Json and System.Net.Http of the
// shared framework, and the C# and Visual Basic compiler assemblies
// (Microsoft.CodeAnalysis*.dll) of the newest SDK under the same dotnet root.
//
// File format (little-endian):
//   "NBBODY01"                                    8-byte magic
//   then records, each starting with a kind byte:
//   1: assembly   u32 name length, UTF-8 name    the bodies that follow belong to it
//   2: body       u32 method token, u32 size, the body's bytes exactly as stored in
//                 the file: header, code, padding and extra data sections
//   3: end        u32 number of bodies, u32 number of bodies with exception regions,
//                 u32 number of exception regions, all as System.Reflection.Metadata
//                 counts them, for the reader to check its own decoding against
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection.Metadata;
using System.Reflection.Metadata.Ecma335;
using System.Reflection.PortableExecutable;
using System.Runtime.InteropServices;
using System.Text;

internal static class Program
{
    private const byte AssemblyRecord = 1;
    private const byte BodyRecord = 2;
    private const byte EndRecord = 3;

    private static int Main(string[] args)
    {
        if (args.Length < 1)
        {
            Console.Error.WriteLine("usage: BodyExtractor <output file> [assembly ...]");
            return 2;
        }
        List<string> assemblies = args.Length > 1 ? args.Skip(1).ToList() : DefaultAssemblies();
        string temporary = args[0] + ".partial";
        int total = 0;
        int totalWithRegions = 0;
        int totalRegions = 0;
        using (var output = new BinaryWriter(File.Create(temporary)))
        {
            output.Write(Encoding.ASCII.GetBytes("NBBODY01"));
            foreach (string path in assemblies)
            {
                (int count, int withRegions, int regions) = WriteBodies(path, output);
                Console.WriteLine($"{count,8} bodies, {withRegions,6} with {regions,6} exception regions  {path}");
                total += count;
                totalWithRegions += withRegions;
                totalRegions += regions;
            }
            output.Write(EndRecord);
            output.Write(total);
            output.Write(totalWithRegions);
            output.Write(totalRegions);
        }
        File.Move(temporary, args[0], overwrite: true);
        Console.WriteLine($"{total,8} bodies, {totalWithRegions,6} with {totalRegions,6} exception regions, in {assemblies.Count} assemblies -> {args[0]}");
        return 0;
    }

    private static List<string> DefaultAssemblies()
    {
        string framework = RuntimeEnvironment.GetRuntimeDirectory();
        var found = new List<string>();
        foreach (string name in new[] { "System.Private.CoreLib", "System.Linq", "System.Text.Json", "System.Net.Http" })
        {
            found.Add(Required(Path.Combine(framework, name + ".dll")));
        }
        // <root>/shared/Microsoft.NETCore.App/<version>/ -> <root>/sdk/<version>/Roslyn/bincore
        string root = Path.GetFullPath(Path.Combine(framework, "..", "..", ".."));
        string? bincore = Directory.Exists(Path.Combine(root, "sdk"))
            ? Directory.GetDirectories(Path.Combine(root, "sdk"))
                .Select(sdk => Path.Combine(sdk, "Roslyn", "bincore"))
                .Where(Directory.Exists)
                .OrderBy(dir => Version.TryParse(Path.GetFileName(Path.GetDirectoryName(Path.GetDirectoryName(dir))), out Version? v) ? v : new Version())
                .LastOrDefault()
            : null;
        if (bincore == null)
        {
            throw new FileNotFoundException($"no SDK with Roslyn/bincore under {root}");
        }
        found.AddRange(Directory.GetFiles(bincore, "Microsoft.CodeAnalysis*.dll").OrderBy(p => p, StringComparer.Ordinal));
        return found;
    }

    private static string Required(string path) =>
        File.Exists(path) ? path : throw new FileNotFoundException("missing assembly", path);

    // Writes the bodies of one assembly; returns how many, and how many of them have
    // exception regions (and how many regions), as the reader of the file should find.
    private static (int Count, int WithRegions, int Regions) WriteBodies(string path, BinaryWriter output)
    {
        using var stream = File.OpenRead(path);
        using var pe = new PEReader(stream);
        MetadataReader metadata = pe.GetMetadataReader();
        byte[] name = Encoding.UTF8.GetBytes(Path.GetFileName(path));
        output.Write(AssemblyRecord);
        output.Write(name.Length);
        output.Write(name);
        int count = 0;
        int withRegions = 0;
        int regions = 0;
        foreach (MethodDefinitionHandle handle in metadata.MethodDefinitions)
        {
            int rva = metadata.GetMethodDefinition(handle).RelativeVirtualAddress;
            if (rva == 0)
            {
                continue;  // abstract, extern or runtime-implemented: no IL
            }
            MethodBodyBlock body = pe.GetMethodBody(rva);
            // Size covers the header, the code and the exception sections.
            byte[] bytes = pe.GetSectionData(rva).GetContent(0, body.Size).ToArray();
            output.Write(BodyRecord);
            output.Write(MetadataTokens.GetToken(handle));
            output.Write(bytes.Length);
            output.Write(bytes);
            ++count;
            regions += body.ExceptionRegions.Length;
            withRegions += body.ExceptionRegions.Length > 0 ? 1 : 0;
        }
        return (count, withRegions, regions);
    }
}
