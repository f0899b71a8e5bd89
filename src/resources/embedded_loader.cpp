#include "resources/embedded_loader.h"

extern "C" {
extern const uint8_t _binary_Nimbrel_TraloManaged_DynamicLoader_dll_start[];
extern const uint8_t _binary_Nimbrel_TraloManaged_DynamicLoader_dll_end[];
extern const uint8_t _binary_Nimbrel_TraloManaged_DynamicLoader_pdb_start[];
extern const uint8_t _binary_Nimbrel_TraloManaged_DynamicLoader_pdb_end[];
}

embedded_blob embedded_loader_assembly() {
    return {_binary_Nimbrel_TraloManaged_DynamicLoader_dll_start,
            static_cast<uint32_t>(_binary_Nimbrel_TraloManaged_DynamicLoader_dll_end -
                                  _binary_Nimbrel_TraloManaged_DynamicLoader_dll_start)};
}

embedded_blob embedded_loader_symbols() {
    return {_binary_Nimbrel_TraloManaged_DynamicLoader_pdb_start,
            static_cast<uint32_t>(_binary_Nimbrel_TraloManaged_DynamicLoader_pdb_end -
                                  _binary_Nimbrel_TraloManaged_DynamicLoader_pdb_start)};
}
