#include "instrumentation/exception_blocks.h"

#include "instrumentation/il_emitter.h"
#include "logging/hresult_text.h"

namespace {

// "Type.Method", as the messages name the method.
std::wstring qualified_name(const method_info& method) { return method.type_name + L"." + method.method_name; }

// UTF-16 for the #US heap. Names read from metadata may hold lone surrogates (kept as
// single code units when they were read); they are written back as they came.
std::u16string to_utf16(const std::wstring& text) {
    std::u16string out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        const auto code = static_cast<char32_t>(c);
        if (code >= 0x10000 && code <= 0x10FFFF) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(code <= 0xFFFF ? static_cast<char16_t>(code) : u'\uFFFD');
        }
    }
    return out;
}

HRESULT define_user_string(const wtracing_scope& trace, ILRewriter& rewriter, const std::wstring& text,
                           mdString* token) {
    const std::u16string utf16 = to_utf16(text);
    const HRESULT hr =
        rewriter.m_pMetaDataEmit->DefineUserString(utf16.data(), static_cast<ULONG>(utf16.size()), token);
    if (FAILED(hr)) {
        trace.trace_f(Error, L"Failed to define the user string \"%s\" (%s)", text.c_str(), hresult_text(hr));
    }
    return hr;
}

EHClause make_clause(uint32_t flags, ILInstr* try_begin, ILInstr* handler_begin, ILInstr* handler_end,
                     mdToken class_token) {
    EHClause clause;
    clause.flags = flags;
    clause.try_begin = try_begin;
    clause.try_end = handler_begin;  // each handler directly follows its try block
    clause.handler_begin = handler_begin;
    clause.handler_end = handler_end;
    clause.class_token = class_token;
    return clause;
}

}  // namespace

HRESULT EmitTryCatchBlock(const wtracing_scope& trace, const method_info& method, ILRewriter& rewriter,
                          ILInstr* first, ILInstr* last, mdTypeRef exception_type, mdMemberRef log,
                          const std::wstring& text) {
    mdString message = mdStringNil;
    HRESULT hr = define_user_string(
        trace, rewriter,
        L"Failed while attempting to invoke the emitted IL within the instruemented method's body. " +
            qualified_name(method) + L"::" + text,
        &message);
    if (FAILED(hr)) return hr;

    il_emitter start(rewriter, first);
    start(op::nop);
    ILInstr* try_begin = start(op::nop);
    start(op::nop);

    il_emitter il(rewriter, last->prev);
    ILInstr* after = il.label();
    il(op::nop);
    il.branch(op::leave_s, after);
    ILInstr* handler_begin = il(op::nop);  // the caught exception is on the stack; leave drops it
    il(op::ldc_i4, 1);
    il(op::ldstr, message);
    il(op::call, log);
    il(op::nop);
    il(op::nop);
    ILInstr* handler_end = il.branch(op::leave_s, after);
    il.place(after);

    rewriter.AddEHClause(
        make_clause(COR_ILEXCEPTION_CLAUSE_NONE, try_begin, handler_begin, handler_end, exception_type));
    return S_OK;
}

HRESULT EmitTryFinallyBlock(const wtracing_scope& trace, const method_info& method, ILRewriter& rewriter,
                            ILInstr* first, ILInstr* last, mdMemberRef log, const std::wstring& text,
                            ILInstr** epilogue_after, ILInstr** end_finally) {
    mdString message = mdStringNil;
    HRESULT hr = define_user_string(trace, rewriter, L"[Finally] " + qualified_name(method) + L"::" + text, &message);
    if (FAILED(hr)) return hr;

    il_emitter start(rewriter, first->prev);
    start(op::nop);
    ILInstr* try_begin = start(op::nop);
    start(op::nop);

    il_emitter il(rewriter, last);
    ILInstr* after = il.label();
    il(op::nop);
    il.branch(op::leave_s, after);
    ILInstr* handler_begin = il(op::nop);
    il(op::ldc_i4, 5);
    il(op::ldstr, message);
    il(op::call, log);
    ILInstr* epilogue_place = il(op::nop);
    il(op::nop);
    ILInstr* handler_end = il(op::endfinally);
    il.place(after);

    rewriter.AddEHClause(make_clause(COR_ILEXCEPTION_CLAUSE_FINALLY, try_begin, handler_begin, handler_end, 0));
    *epilogue_after = epilogue_place;
    *end_finally = handler_end;
    return S_OK;
}

HRESULT EmitRethrowErrorBlock(const wtracing_scope& trace, const method_info& method, ILRewriter& rewriter,
                              ILInstr* first, ILInstr* last, mdTypeRef exception_type, mdMemberRef log,
                              mdMemberRef error, const std::wstring& text, ILInstr** rethrow) {
    const std::wstring prefix = L"[EmitRethrowErrorBlock] " + qualified_name(method) + L"::" + text;
    mdString failure_message = mdStringNil;
    HRESULT hr = define_user_string(trace, rewriter, prefix + L" Failed while invoking Tralo.Managed.span.Error",
                                    &failure_message);
    if (FAILED(hr)) return hr;
    mdString before_message = mdStringNil;
    hr = define_user_string(trace, rewriter, prefix + L" About to invoke Tralo.Managed.span.Error()", &before_message);
    if (FAILED(hr)) return hr;
    const uint32_t exception = rewriter.AddNewLocal(exception_type, ELEMENT_TYPE_CLASS);
    if (exception == ILRewriter::no_local) {
        trace.trace_f(Error, L"Failed to add the exception local (%s)", hresult_text(E_FAIL));
        return E_FAIL;
    }
    ILInstr* leave_to = last->next;
    if (leave_to == rewriter.GetILList()) return E_INVALIDARG;

    il_emitter start(rewriter, first);
    start(op::nop);
    ILInstr* try_begin = start(op::nop);

    il_emitter il(rewriter, last);
    ILInstr* handled = il.label();  // R8
    il(op::nop);
    il.branch(op::leave_s, leave_to);
    ILInstr* handler_begin = il.stloc(exception);
    il(op::nop);
    ILInstr* inner_try_begin = il(op::nop);
    il(op::ldc_i4, 4);
    il(op::ldstr, before_message);
    il(op::call, log);
    il(op::ldnull);
    il.ldloc(exception);
    il(op::call, error);
    il(op::pop);
    il(op::nop);
    il(op::nop);
    il.branch(op::leave_s, handled);
    ILInstr* inner_handler_begin = il(op::pop);
    il(op::nop);
    il(op::ldc_i4, 1);
    il(op::ldstr, failure_message);
    il(op::call, log);
    il(op::nop);
    il(op::nop);
    ILInstr* inner_handler_end = il.branch(op::leave_s, handled);
    il.place(handled);
    // rethrow, not `ldloc exception; throw`: a new throw would reset the stack trace
    // the caller sees.
    ILInstr* handler_end = il(op::rethrow);

    // The inner clause lies in the outer one's handler, so it comes first.
    rewriter.AddEHClause(make_clause(COR_ILEXCEPTION_CLAUSE_NONE, inner_try_begin, inner_handler_begin,
                                     inner_handler_end, exception_type));
    rewriter.AddEHClause(
        make_clause(COR_ILEXCEPTION_CLAUSE_NONE, try_begin, handler_begin, handler_end, exception_type));
    *rethrow = handler_end;
    return S_OK;
}

HRESULT RewriteExitPoints(ILRewriter& rewriter, ILInstr* keep, uint32_t return_local, ILInstr* end_finally) {
    ILInstr* head = rewriter.GetILList();
    ILInstr* exit = end_finally->next;
    for (ILInstr* node = head->next; node != head; node = node->next) {
        if (node->opcode != op::ret || node == keep) continue;
        if (return_local == no_return_local) {
            node->opcode = op::leave_s;
            node->target = exit;
            continue;
        }
        il_emitter::make_stloc(node, return_local);
        il_emitter il(rewriter, node);
        il(op::nop);
        node = il.branch(op::leave_s, exit);
    }
    return S_OK;
}

HRESULT FindLastExitPoint(ILRewriter& rewriter, ILInstr** last_ret, bool* several) {
    ILInstr* head = rewriter.GetILList();
    unsigned count = 0;
    *last_ret = nullptr;
    for (ILInstr* node = head->next; node != head; node = node->next) {
        if (node->opcode == op::ret) {
            *last_ret = node;
            ++count;
        }
    }
    *several = count > 1;
    return count == 0 ? E_FAIL : S_OK;
}
