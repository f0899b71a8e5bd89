// One method's IL body as an editable doubly linked list of instructions, with branch
// operands and exception clauses bound to instruction nodes instead of byte offsets.
// Import reads the body from the runtime and decodes it; emitters insert nodes, add
// clauses and locals; Export re-encodes the list (recomputing offsets, widening short
// branches that no longer reach), writes a fat header and a fat exception section
// (ECMA-335 II.25.4) and installs the body through the runtime.
//
// Guarantees:
// - Import reads nothing outside the body size the runtime reports, and accepts a
//   body only when its header and sections fit, its code decodes into whole defined
//   instructions, and every branch, switch case and clause bound lands on an
//   instruction start (or, for branches and exclusive ends, on the end of the code).
//   Anything else is COR_E_INVALIDPROGRAM and the rewriter refuses to export.
// - Export never meets an unbound node in an imported list; a node an emitter left
//   without a target makes it fail with COR_E_INVALIDPROGRAM instead.
// - Failures are returned as HRESULTs; the rewriter logs nothing.
// - A rewriter serves one JIT callback on one thread. Import costs one pass over the
//   code plus one over the branches; Export one pass per widening round (rarely more
//   than two) over a single reused buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "il/exception_section.h"
#include "il/opcodes.h"
#include "runtime/com_ptr.h"
#include "runtime/metadata_emit.h"
#include "runtime/metadata_import.h"
#include "runtime/profiler_info.h"

// One instruction, or a pseudo-instruction (op::empty, op::switch_target), or the
// list head (op::list_head).
struct ILInstr {
    ILInstr* next = nullptr;
    ILInstr* prev = nullptr;
    uint32_t opcode = 0;
    // Byte offset in the code; valid after Import and after Export.
    uint32_t offset = 0;
    // Branches and switch targets hold `target`; a switch holds its case count in
    // imm32; other opcodes hold their operand in the member of their operand size.
    union {
        ILInstr* target;
        uint8_t imm8;
        uint16_t imm16;
        uint32_t imm32;
        uint64_t imm64 = 0;
    };
};

// One exception clause (ECMA-335 II.25.4.6). The try end is exclusive, the handler
// end inclusive.
struct EHClause {
    uint32_t flags = 0;  // 0 catch, 1 filter, 2 finally, 4 fault
    ILInstr* try_begin = nullptr;
    ILInstr* try_end = nullptr;        // first instruction after the protected block
    ILInstr* handler_begin = nullptr;
    ILInstr* handler_end = nullptr;    // last instruction of the handler
    union {
        uint32_t class_token;  // catch clauses
        ILInstr* filter;       // filter clauses: first instruction of the filter
    };
    EHClause() : filter(nullptr) {}
};

class ILRewriter {
public:
    // Failure result of AddNewLocal and AddNewValueTypeLocal. Every other result is the
    // index of the new local. A caller that gets it must abandon its rewrite: the
    // method's local signature is unchanged.
    static constexpr uint32_t no_local = UINT32_MAX;

    // Borrows the profiling interface and the function control (which may be null);
    // neither is released by the rewriter.
    ILRewriter(ICorProfilerInfo* profiler_info, ICorProfilerFunctionControl* function_control, ModuleID module_id,
               mdMethodDef method_token);
    ILRewriter(const ILRewriter&) = delete;
    ILRewriter& operator=(const ILRewriter&) = delete;

    // Reads the body with GetILFunctionBody and decodes it into the list and clauses.
    // Returns the runtime's status or COR_E_INVALIDPROGRAM; after a failure the
    // rewriter must not be exported (Export then fails with COR_E_INVALIDPROGRAM).
    HRESULT Import();
    // Encodes the list and installs it; see the class comment.
    HRESULT Export();

    // Adds a local of the given type to the method's local signature and returns its
    // index, or no_local when nothing was added. `element_type` is VALUETYPE, CLASS or
    // SZARRAY, followed in the signature by `type_token` (a TypeDef, TypeRef or TypeSpec
    // token, or an element type below 0x80 written as one byte, so SZARRAY with
    // OBJECT gives object[]), or GENERICINST, for which `type_token` is a TypeSpec
    // whose blob is copied.
    uint32_t AddNewLocal(mdToken type_token, uint8_t element_type);
    // Adds a local of a type that is one element-type byte (BOOLEAN to STRING, I, U,
    // OBJECT, TYPEDBYREF); the index of the new local or no_local.
    uint32_t AddNewValueTypeLocal(uint8_t element_type);
    // A TypeRef in this module for the core library type of a primitive element type:
    // S_OK with the token, S_FALSE with token 0 when the element type has none or the
    // core library cannot supply it, or the failing status.
    HRESULT GetMetadataToken(uint8_t element_type, mdToken* token);

    // List primitives. CreateInstr returns a zeroed node owned by the rewriter (its
    // `next` null); the Insert functions link a new node beside an existing one.
    ILInstr* CreateInstr();
    void InsertBefore(ILInstr* where, ILInstr* node);
    void InsertAfter(ILInstr* where, ILInstr* node);
    // Creates a node with the opcode and operand, inserts it after m_insertAfter and
    // moves the cursor to it: emitters write one call per instruction.
    ILInstr* Emit(uint32_t opcode, uint64_t operand = 0);
    ILInstr* EmitBranch(uint32_t opcode, ILInstr* target);
    // Appends a clause, keeping m_ehCount equal to the clause count.
    void AddEHClause(const EHClause& clause);

    ILInstr* GetILList() { return &m_instructions; }
    ILInstr* first_instruction() { return m_instructions.next; }

    ICorProfilerInfo* m_pProfilerInfo;
    ICorProfilerFunctionControl* m_pFunctionControl;
    ModuleID m_moduleId;
    mdMethodDef m_methodToken;
    mdSignature m_localVarSigToken = 0;
    // Header's max stack plus the pushes of every imported instruction: a safe
    // over-estimate, so inserted code needs no stack analysis.
    uint32_t m_maxStack = 0;
    uint32_t m_flags = 0;  // only CorILMethod_InitLocals survives import
    bool m_tinyHeader = false;
    ILInstr m_instructions;  // circular list head: next is the first, prev the last
    uint32_t m_ehCount = 0;  // always m_ehClauses.size()
    std::vector<EHClause> m_ehClauses;
    // Import's map from code offset to the node starting there (null inside an
    // instruction); entry m_codeSize is the list head.
    std::vector<ILInstr*> m_offsetToInstr;
    uint32_t m_codeSize = 0;
    uint32_t m_instrCount = 0;
    std::vector<uint8_t> m_outputBuffer;
    com_ptr<IMethodMalloc> m_pMethodMalloc;
    ILInstr* m_insertAfter = nullptr;
    // The module's metadata, set by the caller before Import (owned).
    com_ptr<IMetaDataImport> m_pMetaDataImport;
    com_ptr<IMetaDataEmit> m_pMetaDataEmit;

    // The core library's module, set when it loads (by the module-load callback).
    static inline std::atomic<ModuleID> m_mscorlibModuleId{0};
    // The core library's metadata: one reference held for the life of the process,
    // stored once by the first wrapping that opens it (adopt_corlib_metadata_import);
    // read by GetMetadataToken on JIT threads.
    static inline std::atomic<IMetaDataImport*> m_pCorLibMetaDataImport{nullptr};
    // Keeps `import` as the core library's metadata unless another thread stored one
    // first; returns the one in use.
    static IMetaDataImport* adopt_corlib_metadata_import(com_ptr<IMetaDataImport> import);

private:
    HRESULT ImportIL(const uint8_t* code);
    HRESULT ImportEH(const COR_ILMETHOD_SECT_EH* section, uint32_t count);
    // Encodes the list into m_outputBuffer, widening short branches until every
    // displacement fits; the code size or a failure.
    HRESULT EncodeCode(uint32_t* code_size);
    uint32_t AddLocal(const uint8_t* type_bytes, uint32_t type_size, uint32_t max_signature_size);

    std::deque<ILInstr> m_nodes;  // storage of every node; addresses stay valid
    bool m_importFailed = false;
};

// The number given to each wrapped method; taken with fetch_add by every wrapping.
inline std::atomic<int32_t> methodCounter{0};
