/* The managed loader assembly and its portable PDB, linked into the library's
   read-only data. The symbols follow the names a raw-binary link would give, and the
   PDB follows the assembly directly. Without a managed build both blobs are empty. */
#define LOADER_BLOB(name, file)                  \
    .globl _binary_##name##_start;               \
    .globl _binary_##name##_end;                 \
    .globl _binary_##name##_size;                \
_binary_##name##_start:                          \
    .incbin file;                                \
_binary_##name##_end:                            \
    .set _binary_##name##_size, _binary_##name##_end - _binary_##name##_start

#define EMPTY_BLOB(name)                         \
    .globl _binary_##name##_start;               \
    .globl _binary_##name##_end;                 \
    .globl _binary_##name##_size;                \
_binary_##name##_start:                          \
_binary_##name##_end:                            \
    .set _binary_##name##_size, 0

    .section .rodata.nimbrel_loader, "a"
#ifdef NIMBREL_LOADER_DLL
    LOADER_BLOB(Nimbrel_TraloManaged_DynamicLoader_dll, NIMBREL_LOADER_DLL)
    LOADER_BLOB(Nimbrel_TraloManaged_DynamicLoader_pdb, NIMBREL_LOADER_PDB)
#else
    EMPTY_BLOB(Nimbrel_TraloManaged_DynamicLoader_dll)
    EMPTY_BLOB(Nimbrel_TraloManaged_DynamicLoader_pdb)
#endif

    .section .note.GNU-stack, "", @progbits
