// The rewriter's metadata edits: new locals appended to the method's local signature
// (ECMA-335 II.23.2.6) and type references for primitive types.
#include <new>
#include <vector>

#include "il/il_rewriter.h"
#include "metadata/metadata_helper.h"

namespace {

// The local count is read by ldloc's 16-bit index; 0xFFFE is the last usable one.
constexpr uint32_t max_local_count = 0xFFFF;
// AddNewValueTypeLocal builds its signature in a buffer of this size.
constexpr uint32_t value_type_signature_limit = 4096;

// Element types that form a whole type on their own.
bool is_one_byte_type(uint8_t element_type) {
    return (element_type >= ELEMENT_TYPE_BOOLEAN && element_type <= ELEMENT_TYPE_STRING) ||
           element_type == ELEMENT_TYPE_TYPEDBYREF || element_type == ELEMENT_TYPE_I ||
           element_type == ELEMENT_TYPE_U || element_type == ELEMENT_TYPE_OBJECT;
}

const wchar_t* primitive_type_name(uint8_t element_type) {
    switch (element_type) {
        case ELEMENT_TYPE_BOOLEAN: return L"System.Boolean";
        case ELEMENT_TYPE_CHAR: return L"System.Char";
        case ELEMENT_TYPE_I1: return L"System.SByte";
        case ELEMENT_TYPE_U1: return L"System.Byte";
        case ELEMENT_TYPE_I2: return L"System.Int16";
        case ELEMENT_TYPE_U2: return L"System.UInt16";
        case ELEMENT_TYPE_I4: return L"System.Int32";
        case ELEMENT_TYPE_U4: return L"System.UInt32";
        case ELEMENT_TYPE_I8: return L"System.Int64";
        case ELEMENT_TYPE_U8: return L"System.UInt64";
        case ELEMENT_TYPE_R4: return L"System.Single";
        case ELEMENT_TYPE_R8: return L"System.Double";
        case ELEMENT_TYPE_I: return L"System.IntPtr";
        case ELEMENT_TYPE_U: return L"System.UIntPtr";
        case ELEMENT_TYPE_STRING:
        case ELEMENT_TYPE_CLASS:
        case ELEMENT_TYPE_ARRAY:
        case ELEMENT_TYPE_GENERICINST:
        case ELEMENT_TYPE_OBJECT:
        case ELEMENT_TYPE_SZARRAY: return L"System.Object";
        default: return nullptr;
    }
}

}  // namespace

uint32_t ILRewriter::AddNewLocal(mdToken type_token, uint8_t element_type) {
    try {
        std::vector<uint8_t> type_bytes;
        switch (element_type) {
            case ELEMENT_TYPE_GENERICINST: {
                PCCOR_SIGNATURE spec = nullptr;
                ULONG spec_size = 0;
                if (!m_pMetaDataImport || TypeFromToken(type_token) != mdtTypeSpec ||
                    FAILED(m_pMetaDataImport->GetTypeSpecFromToken(type_token, &spec, &spec_size)) ||
                    spec == nullptr || spec_size == 0) {
                    return no_local;
                }
                type_bytes.assign(spec, spec + spec_size);
                break;
            }
            case ELEMENT_TYPE_VALUETYPE:
            case ELEMENT_TYPE_CLASS:
            case ELEMENT_TYPE_SZARRAY: {
                type_bytes.push_back(element_type);
                if (type_token < 0x80) {
                    type_bytes.push_back(static_cast<uint8_t>(type_token));  // an element type
                    break;
                }
                const uint32_t table = TypeFromToken(type_token);
                if ((table != mdtTypeDef && table != mdtTypeRef && table != mdtTypeSpec) || IsNilToken(type_token)) {
                    return no_local;  // anything else would not be a TypeDefOrRefOrSpecEncoded
                }
                std::vector<uint8_t> encoded;
                metadata_helper::get_compress_signature_token(type_token, encoded);
                type_bytes.insert(type_bytes.end(), encoded.begin(), encoded.end());
                break;
            }
            default:
                return no_local;
        }
        return AddLocal(type_bytes.data(), static_cast<uint32_t>(type_bytes.size()), UINT32_MAX);
    } catch (const std::bad_alloc&) {
        return no_local;
    }
}

uint32_t ILRewriter::AddNewValueTypeLocal(uint8_t element_type) {
    if (!is_one_byte_type(element_type)) {
        return no_local;
    }
    try {
        return AddLocal(&element_type, 1, value_type_signature_limit);
    } catch (const std::bad_alloc&) {
        return no_local;
    }
}

uint32_t ILRewriter::AddLocal(const uint8_t* type_bytes, uint32_t type_size, uint32_t max_signature_size) {
    if (!m_pMetaDataEmit) {
        return no_local;
    }
    uint32_t old_count = 0;
    const uint8_t* old_locals = nullptr;
    const uint8_t* old_end = nullptr;
    if (m_localVarSigToken != mdTokenNil) {
        PCCOR_SIGNATURE old_signature = nullptr;
        ULONG old_size = 0;
        if (!m_pMetaDataImport ||
            FAILED(m_pMetaDataImport->GetSigFromToken(m_localVarSigToken, &old_signature, &old_size)) ||
            old_signature == nullptr || old_size < 2 || old_signature[0] != IMAGE_CEE_CS_CALLCONV_LOCAL_SIG) {
            return no_local;
        }
        old_end = old_signature + old_size;
        uint32_t width = 0;
        if (!metadata_helper::uncompress_unsigned(old_signature + 1, old_end, &old_count, &width)) {
            return no_local;
        }
        old_locals = old_signature + 1 + width;
    }
    if (old_count >= max_local_count) {
        return no_local;
    }

    std::vector<uint8_t> signature;
    signature.push_back(IMAGE_CEE_CS_CALLCONV_LOCAL_SIG);
    metadata_helper::compress_unsigned(old_count + 1, signature);  // its width may grow
    if (old_locals != nullptr) {
        signature.insert(signature.end(), old_locals, old_end);
    }
    signature.insert(signature.end(), type_bytes, type_bytes + type_size);
    if (signature.size() > max_signature_size) {
        return no_local;
    }
    mdSignature token = mdTokenNil;
    if (FAILED(m_pMetaDataEmit->GetTokenFromSig(signature.data(), static_cast<ULONG>(signature.size()), &token))) {
        return no_local;
    }
    m_localVarSigToken = token;
    return old_count;
}

HRESULT ILRewriter::GetMetadataToken(uint8_t element_type, mdToken* token) {
    if (token == nullptr) {
        return E_POINTER;
    }
    *token = mdTokenNil;
    const wchar_t* name = primitive_type_name(element_type);
    if (name == nullptr) {
        return S_FALSE;
    }
    mdTypeRef found = mdTypeRefNil;
    if (SUCCEEDED(metadata_helper::lookup_type(m_pMetaDataImport.get(), name, &found))) {
        *token = found;
        return S_OK;
    }
    // The module does not reference the type: import it from the core library through
    // the assembly reference the module uses for System.Object.
    mdTypeRef object_ref = mdTypeRefNil;
    HRESULT hr = metadata_helper::lookup_type(m_pMetaDataImport.get(), L"System.Object", &object_ref);
    if (FAILED(hr)) {
        return hr;
    }
    IMetaDataImport* corlib = m_pCorLibMetaDataImport.load();
    if (corlib == nullptr) {
        return S_FALSE;
    }
    mdTypeDef type_def = mdTypeDefNil;
    hr = metadata_helper::lookup_type_def(corlib, name, &type_def);
    if (hr == E_INVALIDARG) {
        return S_FALSE;  // the core library has no such type
    }
    if (FAILED(hr)) {
        return hr;
    }
    com_ptr<IMetaDataAssemblyImport> assembly_import;
    hr = query_interface(m_pMetaDataImport, IID_IMetaDataAssemblyImport, assembly_import);
    if (FAILED(hr)) {
        return hr;
    }
    com_ptr<IMetaDataAssemblyEmit> assembly_emit;
    hr = query_interface(m_pMetaDataImport, IID_IMetaDataAssemblyEmit, assembly_emit);
    if (FAILED(hr)) {
        return hr;
    }
    com_ptr<IMetaDataAssemblyImport> corlib_assembly_import;
    hr = query_interface(corlib, IID_IMetaDataAssemblyImport, corlib_assembly_import);
    if (FAILED(hr)) {
        return hr;
    }
    mdToken resolution_scope = mdTokenNil;
    ULONG name_length = 0;
    hr = m_pMetaDataImport->GetTypeRefProps(object_ref, &resolution_scope, nullptr, 0, &name_length);
    if (FAILED(hr)) {
        return hr;
    }
    const void* hash = nullptr;
    ULONG hash_size = 0;
    hr = assembly_import->GetAssemblyRefProps(resolution_scope, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &hash,
                                              &hash_size, nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    if (!m_pMetaDataEmit) {
        return E_POINTER;
    }
    mdTypeRef imported = mdTypeRefNil;
    hr = m_pMetaDataEmit->DefineImportType(corlib_assembly_import.get(), hash, hash_size, corlib, type_def,
                                           assembly_emit.get(), &imported);
    if (FAILED(hr)) {
        return hr;
    }
    *token = imported;
    return IsNilToken(imported) ? S_FALSE : S_OK;
}
