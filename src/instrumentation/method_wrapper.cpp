#include "instrumentation/method_wrapper.h"

#include <initializer_list>
#include <string>

#include "il/il_listing.h"
#include "instrumentation/exception_blocks.h"
#include "instrumentation/il_emitter.h"
#include "logging/hresult_text.h"
#include "logging/text_conversions.h"
#include "runtime/com_ptr.h"

namespace {

HRESULT type_spec_token(const wrap_context& context, const value_shape& value, mdTypeSpec* token) {
    const HRESULT hr =
        context.rewriter.m_pMetaDataEmit->GetTokenFromTypeSpec(value.type_bytes, value.type_size, token);
    if (FAILED(hr)) {
        context.trace.trace_f(Error, L"Failed to get a type specification token (%s)", hresult_text(hr));
    }
    return hr;
}

// The token `box` needs for the value, or 0 when it is not boxed (a reference) or
// cannot be (no core library type for a primitive, an unboxable type).
HRESULT box_token(const wrap_context& context, const value_shape& value, mdToken* token) {
    *token = 0;
    if (value.kind == value_kind::primitive) {
        const HRESULT hr = context.rewriter.GetMetadataToken(value.element_type, token);
        if (FAILED(hr)) {
            context.trace.trace_f(Error, L"Failed to get the type token of element type 0x%x (%s)",
                                  static_cast<unsigned>(value.element_type), hresult_text(hr));
            return hr;
        }
        return S_OK;
    }
    if (value.kind != value_kind::value_type) return S_OK;
    if (value.element_type == ELEMENT_TYPE_VALUETYPE && !IsNilToken(value.token)) {
        *token = value.token;
        return S_OK;
    }
    // Instantiations and generic parameters are named by a type specification.
    return type_spec_token(context, value, token);
}

// Adds a local of exactly the return type.
HRESULT add_return_local(const wrap_context& context, uint32_t* local) {
    const value_shape& value = context.shape.return_value;
    ILRewriter& rewriter = context.rewriter;
    const uint8_t lead = value.element_type;
    if (value.kind == value_kind::primitive || lead == ELEMENT_TYPE_STRING || lead == ELEMENT_TYPE_OBJECT) {
        *local = rewriter.AddNewValueTypeLocal(lead);
    } else if ((lead == ELEMENT_TYPE_CLASS || lead == ELEMENT_TYPE_VALUETYPE) && !IsNilToken(value.token)) {
        *local = rewriter.AddNewLocal(value.token, lead);
    } else {
        // Arrays, instantiations, generic parameters, pointers: AddNewLocal copies a
        // type specification's blob as the local's type, whatever type it describes.
        mdTypeSpec spec = mdTypeSpecNil;
        const HRESULT hr = type_spec_token(context, value, &spec);
        if (FAILED(hr)) return hr;
        *local = rewriter.AddNewLocal(spec, ELEMENT_TYPE_GENERICINST);
    }
    if (*local == ILRewriter::no_local) {
        context.trace.trace_f(Error, L"Failed to add the return value local (%s)", hresult_text(E_FAIL));
        return E_FAIL;
    }
    return S_OK;
}

// Checks the locals just added: AddNewLocal reports a failure as no_local.
HRESULT check_locals(const wrap_context& context, std::initializer_list<uint32_t> locals) {
    for (const uint32_t local : locals) {
        if (local == ILRewriter::no_local) {
            context.trace.trace_f(Error, L"Failed to add a local to the method (%s)", hresult_text(E_FAIL));
            return E_FAIL;
        }
    }
    return S_OK;
}

// `ldnull` for a static method; `this` otherwise.
void emit_this(const wrap_context& context, il_emitter& il) {
    if (context.shape.has_this) {
        il(op::ldarg_0);
    } else {
        il(op::ldnull);
    }
}

// object[] array = new object[n]; array[i] = (object)argument i, for every parameter.
// A value that cannot be turned into an object is stored as null.
void emit_pack_arguments(const wrap_context& context, il_emitter& il, uint32_t array) {
    const auto& parameters = context.shape.parameters;
    const uint32_t first_argument = context.shape.has_this ? 1 : 0;
    il.ldc_i4_s(static_cast<int32_t>(parameters.size()));
    il(op::newarr, context.refs.object_type);
    il.stloc(array);
    for (uint32_t i = 0; i < parameters.size(); ++i) {
        const value_shape& parameter = parameters[i];
        const mdToken box = context.parameter_box_tokens[i];
        il.ldloc(array);
        il(op::ldc_i4, i);
        const bool boxed = parameter.kind == value_kind::primitive || parameter.kind == value_kind::value_type;
        if (parameter.kind == value_kind::unboxable || (boxed && box == 0) ||
            (parameter.kind == value_kind::reference && parameter.is_byref)) {
            il(op::ldnull);
        } else {
            il.ldarg(i + first_argument);
            if (boxed && parameter.is_byref) il(op::ldobj, box);
            if (boxed) il(op::box, box);
        }
        il(op::stelem_ref);
    }
}

// Stores the agent's replacement of parameter i into the argument when the agent
// listed i (the loop's current `index`) and left a non-null value there.
void emit_write_back(const wrap_context& context, il_emitter& il, uint32_t i, uint32_t arguments, uint32_t index,
                     uint32_t skip) {
    const value_shape& parameter = context.shape.parameters[i];
    const uint32_t argument = i + (context.shape.has_this ? 1 : 0);
    ILInstr* not_listed = il.label(op::ldc_i4_1);  // W1
    ILInstr* decided = il.label();                 // W2
    ILInstr* done = il.label();                    // W3
    il(op::nop);
    il.ldloc(index);
    il.ldc_i4_s(static_cast<int32_t>(i));
    il.branch(op::bne_un_s, not_listed);
    il.ldloc(arguments);
    il.ldc_i4_s(static_cast<int32_t>(i));
    il(op::ldelem_ref);
    il(op::ldnull);
    il(op::ceq);
    il.branch(op::br_s, decided);
    il.place(not_listed);
    il.place(decided);
    il.stloc(skip);
    il.ldloc(skip);
    il.branch(op::brtrue_s, done);
    il.ldloc(arguments);
    il.ldc_i4_s(static_cast<int32_t>(i));
    il(op::ldelem_ref);
    if (parameter.element_type == ELEMENT_TYPE_CLASS) {
        il(op::castclass, parameter.token);
    } else if (parameter.kind == value_kind::primitive) {
        il(op::unbox_any, context.parameter_box_tokens[i]);
    }
    il.starg(argument);
    il(op::nop);
    il.place(done);
}

bool writes_back(const wrap_context& context, uint32_t i) {
    const value_shape& parameter = context.shape.parameters[i];
    if (!parameter.writable()) return false;
    if (parameter.element_type == ELEMENT_TYPE_CLASS) return !IsNilToken(parameter.token);
    if (parameter.kind == value_kind::primitive) return context.parameter_box_tokens[i] != 0;
    return true;  // object
}

void trace_listing(const wrap_context& context, const wchar_t* title) {
    if (context.trace.level < Trace) return;
    context.trace.trace(Trace, title + s2ws_replacing(il_listing(context.rewriter)) + L"\n" +
                                   s2ws_replacing(eh_listing(context.rewriter)));
}

// Metadata added to a loaded module must be applied before the runtime uses it.
HRESULT apply_metadata(ICorProfilerInfo* info, ModuleID module, const wtracing_scope& trace) {
    com_ptr<ICorProfilerInfo7> info7;
    if (FAILED(query_interface(info, IID_ICorProfilerInfo7, info7))) return S_OK;  // older runtimes need none
    const HRESULT hr = info7->ApplyMetaData(module);
    if (FAILED(hr)) trace.trace_f(Error, L"Failed to apply the new metadata to the module (%s)", hresult_text(hr));
    return hr;
}

}  // namespace

HRESULT resolve_box_tokens(wrap_context& context) {
    context.parameter_box_tokens.assign(context.shape.parameters.size(), 0);
    for (size_t i = 0; i < context.shape.parameters.size(); ++i) {
        const HRESULT hr = box_token(context, context.shape.parameters[i], &context.parameter_box_tokens[i]);
        if (FAILED(hr)) return hr;
    }
    return box_token(context, context.shape.return_value, &context.return_box_token);
}

HRESULT EmitPrologue(const wrap_context& context, int32_t method_id, int selection) {
    const agent_references& refs = context.refs;
    ILRewriter& rewriter = context.rewriter;
    const uint32_t arguments = rewriter.AddNewLocal(ELEMENT_TYPE_OBJECT, ELEMENT_TYPE_SZARRAY);  // object[]
    const uint32_t directives = rewriter.AddNewLocal(refs.directives_type, ELEMENT_TYPE_CLASS);
    const uint32_t indexes = rewriter.AddNewLocal(ELEMENT_TYPE_I4, ELEMENT_TYPE_SZARRAY);  // int32[]
    const uint32_t counter = rewriter.AddNewValueTypeLocal(ELEMENT_TYPE_I4);
    const uint32_t condition = rewriter.AddNewValueTypeLocal(ELEMENT_TYPE_BOOLEAN);
    const uint32_t index = rewriter.AddNewValueTypeLocal(ELEMENT_TYPE_I4);
    const uint32_t skip = rewriter.AddNewValueTypeLocal(ELEMENT_TYPE_BOOLEAN);
    const HRESULT hr = check_locals(context, {arguments, directives, indexes, counter, condition, index, skip});
    if (FAILED(hr)) return hr;

    il_emitter il(rewriter, rewriter.GetILList());
    ILInstr* registered = il.label();  // L1
    ILInstr* next_index = il.label();  // L2
    ILInstr* loop_test = il.label();  // L3, made `ldloc counter` below
    ILInstr* no_indexes = il.label();  // still inside the try block the catch below makes
    ILInstr* end = il.label();  // P2

    il(op::nop);
    ILInstr* start = il(op::nop);  // P1
    il(op::nop);
    il(op::ldc_i4, static_cast<uint32_t>(method_id));
    il(op::call, refs.contains_key);
    il.branch(op::brtrue_s, registered);
    il(op::nop);
    il(op::nop);
    il(op::ldc_i4, static_cast<uint32_t>(method_id));
    il(op::call, refs.get_current_method);
    il(op::ldc_i4, static_cast<uint32_t>(selection));
    il(op::call, refs.register_method);
    il(op::nop);
    il(op::nop);
    il.place(registered);
    il(op::ldc_i4, static_cast<uint32_t>(method_id));  // stays: GenericPrologue's first argument
    il(op::newobj, refs.directives_ctor);
    il.stloc(directives);
    emit_this(context, il);
    emit_pack_arguments(context, il, arguments);
    il.ldloc(arguments);
    il.ldloc(directives);
    il(op::call, refs.generic_prologue);
    il.ldloc(directives);
    il(op::callvirt, refs.get_indexes);
    il.stloc(indexes);
    // No indexes, no write-back: skipping the loop spares a NullReferenceException
    // (thrown by ldlen and caught below) on every call.
    il.ldloc(indexes);
    il.branch(op::brfalse_s, no_indexes);
    il(op::ldc_i4_0);
    il.stloc(counter);
    il.branch(op::br_s, loop_test);
    il.place(next_index);
    il.ldloc(indexes);
    il.ldloc(counter);
    il(op::ldelem_i4);
    il.stloc(index);
    for (uint32_t i = 0; i < context.shape.parameters.size(); ++i) {
        if (writes_back(context, i)) emit_write_back(context, il, i, arguments, index, skip);
    }
    il(op::nop);
    il(op::nop);
    il.ldloc(counter);
    il(op::ldc_i4_1);
    il(op::add);
    il.stloc(counter);
    il.place(loop_test);
    il_emitter::make_ldloc(loop_test, counter);
    il.ldloc(indexes);
    il(op::ldlen);
    il(op::conv_i4);
    il(op::clt);
    il.stloc(condition);
    il.ldloc(condition);
    il.branch(op::brtrue_s, next_index);
    il.place(no_indexes);
    il.place(end);

    return EmitTryCatchBlock(context.trace, context.method, rewriter, start, end, refs.exception_type, refs.log,
                             L"Prologue();");
}

HRESULT EmptyEvaluationStack(const wrap_context& context, ILInstr** last_ret, ILInstr** end_marker,
                             uint32_t* return_local) {
    *return_local = no_return_local;
    if (context.shape.return_value.kind != value_kind::none) {
        const HRESULT hr = add_return_local(context, return_local);
        if (FAILED(hr)) return hr;
    }
    ILRewriter& rewriter = context.rewriter;
    ILInstr* tail = rewriter.GetILList()->prev;
    il_emitter il(rewriter, tail);
    if (tail->opcode == op::ret) {
        // The value the method's code leaves for its last ret is stored on the way to
        // the marker.
        tail->opcode = op::nop;
        il(op::nop);
        if (*return_local != no_return_local) il.stloc(*return_local);
    }
    // Otherwise the code ends in a jump (a loop's back branch, a throw): every exit is
    // a ret that RewriteExitPoints turns into a leave, and the marker is never reached.
    *end_marker = il(op::nop);
    if (*return_local != no_return_local) il.ldloc(*return_local);
    *last_ret = il(op::ret);
    return S_OK;
}

HRESULT EmitEpilogue(const wrap_context& context, ILInstr* after, uint32_t return_local, int32_t method_id) {
    const agent_references& refs = context.refs;
    const uint32_t arguments = context.rewriter.AddNewLocal(ELEMENT_TYPE_OBJECT, ELEMENT_TYPE_SZARRAY);
    const uint32_t directives = context.rewriter.AddNewLocal(refs.directives_type, ELEMENT_TYPE_CLASS);
    const HRESULT hr = check_locals(context, {arguments, directives});
    if (FAILED(hr)) return hr;

    il_emitter il(context.rewriter, after);
    il(op::nop);
    ILInstr* start = il(op::nop);  // E1
    il(op::nop);
    il(op::ldc_i4, static_cast<uint32_t>(method_id));  // stays: GenericEpilogue's first argument
    il(op::newobj, refs.directives_ctor);
    il.stloc(directives);
    emit_this(context, il);
    emit_pack_arguments(context, il, arguments);
    il.ldloc(arguments);
    const value_shape& result = context.shape.return_value;
    if (result.kind == value_kind::reference) {
        il.ldloc(return_local);
    } else if ((result.kind == value_kind::primitive || result.kind == value_kind::value_type) &&
               context.return_box_token != 0) {
        il.ldloc(return_local);
        il(op::box, context.return_box_token);
    } else {
        il(op::ldnull);  // void, or a value that cannot be boxed
    }
    il.ldloc(directives);
    il(op::call, refs.generic_epilogue);
    ILInstr* end = il(op::nop);  // E2
    il(op::nop);

    return EmitTryCatchBlock(context.trace, context.method, context.rewriter, start, end, refs.exception_type, refs.log,
                             L"Epilogue();");
}

HRESULT wrap_method_body(ICorProfilerInfo* info, const method_info& method, ILRewriter& rewriter,
                         const method_shape& shape, const agent_references& refs, int selection,
                         const wtracing_scope& trace) {
    wrap_context context{rewriter, method, shape, refs, trace, {}, 0};
    trace_listing(context, L"IL before instrumentation:\n");
    HRESULT hr = resolve_box_tokens(context);
    if (FAILED(hr)) return hr;

    const int32_t method_id = methodCounter.fetch_add(1);
    hr = EmitPrologue(context, method_id, selection);
    if (FAILED(hr)) return hr;

    ILInstr* last_ret = nullptr;
    ILInstr* end_marker = nullptr;
    uint32_t return_local = no_return_local;
    hr = EmptyEvaluationStack(context, &last_ret, &end_marker, &return_local);
    if (FAILED(hr)) return hr;

    il_emitter il(rewriter, rewriter.GetILList());
    ILInstr* start = il(op::nop);
    il(op::nop);

    ILInstr* rethrow = nullptr;
    hr = EmitRethrowErrorBlock(trace, method, rewriter, start, end_marker, refs.exception_type, refs.log, refs.error,
                               L"Catch N' Throw", &rethrow);
    if (FAILED(hr)) return hr;

    ILInstr* epilogue_after = nullptr;
    ILInstr* end_finally = nullptr;
    hr = EmitTryFinallyBlock(trace, method, rewriter, start, rethrow, refs.log, L"Finally;", &epilogue_after,
                             &end_finally);
    if (FAILED(hr)) return hr;
    const size_t finally_clause = rewriter.m_ehClauses.size() - 1;

    hr = EmitEpilogue(context, epilogue_after, return_local, method_id);
    if (FAILED(hr)) return hr;
    // The epilogue's catch lies inside the finally handler: it must come first.
    const EHClause finally_copy = rewriter.m_ehClauses[finally_clause];
    rewriter.m_ehClauses.erase(rewriter.m_ehClauses.begin() + static_cast<std::ptrdiff_t>(finally_clause));
    rewriter.AddEHClause(finally_copy);

    hr = RewriteExitPoints(rewriter, last_ret, return_local, end_finally);
    if (FAILED(hr)) return hr;

    trace_listing(context, L"IL after instrumentation:\n");
    hr = apply_metadata(info, method.module_id, trace);
    if (FAILED(hr)) return hr;
    hr = rewriter.Export();
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to install the instrumented method body (%s)", hresult_text(hr));
    }
    return hr;
}
