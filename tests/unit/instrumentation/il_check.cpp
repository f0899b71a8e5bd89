#include "il_check.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "il/opcodes.h"

namespace il_check {
namespace {

enum class part { try_block, handler, filter };
using region = std::pair<size_t, part>;  // clause index, part

struct call_effect {
    int pops = 0;
    int pushes = 0;
};

// Reads a compressed unsigned integer (ECMA-335 II.23.2).
bool read_compressed(const test_support::blob& b, size_t& at, uint32_t& value) {
    if (at >= b.size()) return false;
    const uint8_t lead = b[at];
    if ((lead & 0x80) == 0) {
        value = lead;
        at += 1;
    } else if ((lead & 0xC0) == 0x80 && at + 1 < b.size()) {
        value = (uint32_t{lead} & 0x3F) << 8 | b[at + 1];
        at += 2;
    } else if ((lead & 0xE0) == 0xC0 && at + 3 < b.size()) {
        value = (uint32_t{lead} & 0x1F) << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
        at += 4;
    } else {
        return false;
    }
    return true;
}

struct method_signature {
    bool has_this = false;
    uint32_t params = 0;
    bool returns_value = false;
};

std::optional<method_signature> parse_method_signature(const test_support::blob& b) {
    method_signature s;
    size_t at = 0;
    if (b.empty()) return std::nullopt;
    const uint8_t convention = b[at++];
    s.has_this = (convention & 0x20) != 0;
    uint32_t value = 0;
    if ((convention & 0x10) != 0 && !read_compressed(b, at, value)) return std::nullopt;
    if (!read_compressed(b, at, s.params)) return std::nullopt;
    while (at < b.size() && (b[at] == ELEMENT_TYPE_CMOD_OPT || b[at] == ELEMENT_TYPE_CMOD_REQD)) {
        ++at;
        if (!read_compressed(b, at, value)) return std::nullopt;
    }
    if (at >= b.size()) return std::nullopt;
    s.returns_value = b[at] != ELEMENT_TYPE_VOID;
    return s;
}

std::optional<method_signature> callee_signature(test_support::fake_module& module, mdToken token) {
    if (auto* ref = module.member_ref(token)) return parse_method_signature(ref->signature);
    if (auto* def = module.method(token)) return parse_method_signature(def->signature);
    return std::nullopt;
}

bool is_in(uint32_t opcode, uint32_t first, uint32_t last) { return opcode >= first && opcode <= last; }

// Pops and pushes of an opcode that is not a call; false for opcodes not modelled.
bool plain_effect(uint32_t o, int& pops, int& pushes) {
    pops = 0;
    pushes = 0;
    if (o == op::nop || o == op::br_s || o == op::br || o == op::leave_s || o == op::leave || o == op::endfinally ||
        o == op::rethrow || o == op::tail_ || o == op::volatile_ || o == op::readonly_ || o == op::constrained_ ||
        o == op::unaligned_ || o == op::ret || o == op::empty) {
        return true;
    }
    if (is_in(o, op::ldarg_0, op::ldloc_3) || o == op::ldarg_s || o == op::ldarga_s || o == op::ldloc_s ||
        o == op::ldloca_s || o == op::ldarg || o == op::ldarga || o == op::ldloc || o == op::ldloca ||
        is_in(o, op::ldnull, op::ldc_r8) || o == op::ldstr || o == op::ldsfld || o == op::ldsflda ||
        o == op::ldtoken || o == op::ldftn || o == op::sizeof_) {
        pushes = 1;
        return true;
    }
    if (is_in(o, op::stloc_0, op::stloc_3) || o == op::starg_s || o == op::stloc_s || o == op::starg ||
        o == op::stloc || o == op::pop || o == op::stsfld || o == op::brfalse_s || o == op::brtrue_s ||
        o == op::brfalse || o == op::brtrue || o == op::switch_ || o == op::throw_ || o == op::initobj) {
        pops = 1;
        return true;
    }
    if (o == op::dup) {
        pops = 1;
        pushes = 2;
        return true;
    }
    if (is_in(o, op::beq_s, op::blt_un_s) || is_in(o, op::beq, op::blt_un) || is_in(o, op::stind_ref, op::stind_r8) ||
        o == op::stind_i || o == op::stfld || o == op::stobj || o == op::cpobj) {
        pops = 2;
        return true;
    }
    if (is_in(o, op::add, op::shr_un) || is_in(o, op::add_ovf, op::sub_ovf_un) || is_in(o, op::ceq, op::clt_un) ||
        is_in(o, op::ldelem_i1, op::ldelem_ref) || o == op::ldelem || o == op::ldelema) {
        pops = 2;
        pushes = 1;
        return true;
    }
    if (is_in(o, op::stelem_i, op::stelem_ref) || o == op::stelem) {
        pops = 3;
        return true;
    }
    if (o == op::neg || o == op::not_ || is_in(o, op::conv_i1, op::conv_u8) || o == op::conv_r_un ||
        is_in(o, op::conv_ovf_i1_un, op::conv_ovf_u_un) || is_in(o, op::conv_ovf_i1, op::conv_ovf_u8) ||
        is_in(o, op::conv_u2, op::conv_ovf_u) || o == op::conv_u || is_in(o, op::ldind_i1, op::ldind_ref) ||
        o == op::ldobj || o == op::box || o == op::unbox || o == op::unbox_any || o == op::castclass ||
        o == op::isinst || o == op::newarr || o == op::ldlen || o == op::ldfld || o == op::ldflda ||
        o == op::ckfinite || o == op::localloc) {
        pops = 1;
        pushes = 1;
        return true;
    }
    return false;
}

bool unconditional(uint32_t o) {
    return o == op::br_s || o == op::br || o == op::leave_s || o == op::leave || o == op::ret || o == op::throw_ ||
           o == op::rethrow || o == op::endfinally || o == op::jmp;
}

bool is_leave(uint32_t o) { return o == op::leave_s || o == op::leave; }

std::string label(uint32_t offset) {
    char text[16];
    std::snprintf(text, sizeof text, "IL_%04X", offset);
    return text;
}

class checker {
public:
    checker(ILRewriter& rewriter, test_support::fake_module& module, mdMethodDef method)
        : rewriter_(rewriter), module_(module) {
        ILInstr* head = rewriter.GetILList();
        for (ILInstr* node = head->next; node != head; node = node->next) {
            index_[node] = nodes_.size();
            nodes_.push_back(node);
        }
        index_[head] = nodes_.size();
        if (auto* row = module.method(method)) signature_ = parse_method_signature(row->signature);
        local_count_ = count_locals();
    }

    std::vector<std::string> run() {
        if (!signature_) {
            report("the method's signature cannot be read");
            return out_;
        }
        bind_clauses();
        check_clause_order();
        walk();
        return out_;
    }

private:
    struct clause_range {
        uint32_t flags;
        size_t try_begin, try_end;          // [begin, end)
        size_t handler_begin, handler_end;  // [begin, end)
        std::optional<size_t> filter_begin;
    };

    void report(const std::string& text) { out_.push_back(text); }

    size_t at(const ILInstr* node) const {
        const auto found = index_.find(node);
        return found == index_.end() ? SIZE_MAX : found->second;
    }

    uint32_t count_locals() {
        const mdSignature token = rewriter_.m_localVarSigToken;
        if (IsNilToken(token) || RidFromToken(token) > module_.standalone_sigs.size()) return 0;
        const auto& sig = module_.standalone_sigs[RidFromToken(token) - 1];
        size_t position = 1;
        uint32_t count = 0;
        return sig.size() > 1 && read_compressed(sig, position, count) ? count : 0;
    }

    void bind_clauses() {
        for (const EHClause& c : rewriter_.m_ehClauses) {
            clause_range r{c.flags, at(c.try_begin), at(c.try_end), at(c.handler_begin),
                           c.handler_end ? at(c.handler_end) + 1 : SIZE_MAX, std::nullopt};
            if (c.flags == COR_ILEXCEPTION_CLAUSE_FILTER) r.filter_begin = at(c.filter);
            if (r.try_begin >= r.try_end || r.handler_begin >= r.handler_end || r.handler_end > nodes_.size()) {
                report("clause " + std::to_string(clauses_.size()) + " has empty or unbound blocks");
            }
            clauses_.push_back(r);
        }
    }

    static bool within(size_t begin, size_t end, size_t outer_begin, size_t outer_end) {
        return begin >= outer_begin && end <= outer_end;
    }

    void check_clause_order() {
        for (size_t i = 0; i < clauses_.size(); ++i) {
            for (size_t j = i + 1; j < clauses_.size(); ++j) {
                const clause_range& outer = clauses_[i];
                const clause_range& inner = clauses_[j];
                const bool same_try = inner.try_begin == outer.try_begin && inner.try_end == outer.try_end;
                const bool in_try = within(inner.try_begin, inner.try_end, outer.try_begin, outer.try_end);
                const bool in_handler =
                    within(inner.try_begin, inner.try_end, outer.filter_begin.value_or(outer.handler_begin),
                           outer.handler_end);
                if ((in_try && !same_try) || in_handler) {
                    report("clause " + std::to_string(j) + " is nested in clause " + std::to_string(i) +
                           " but comes after it");
                }
            }
        }
    }

    std::set<region> regions_of(size_t k) const {
        std::set<region> out;
        for (size_t c = 0; c < clauses_.size(); ++c) {
            const clause_range& r = clauses_[c];
            if (k >= r.try_begin && k < r.try_end) out.insert({c, part::try_block});
            if (k >= r.handler_begin && k < r.handler_end) out.insert({c, part::handler});
            if (r.filter_begin && k >= *r.filter_begin && k < r.handler_begin) out.insert({c, part::filter});
        }
        return out;
    }

    // Whether control may pass from k to t: it may leave regions only through
    // `leave` (exits), and enter only try blocks, at their first instruction.
    bool may_pass(size_t k, size_t t, bool exits) const {
        const std::set<region> from = regions_of(k);
        const std::set<region> to = regions_of(t);
        for (const region& r : to) {
            if (from.count(r) == 0 && !(r.second == part::try_block && clauses_[r.first].try_begin == t)) return false;
        }
        if (!exits) {
            for (const region& r : from) {
                if (to.count(r) == 0) return false;
            }
        }
        return true;
    }

    void flow(size_t from, size_t to, int depth, bool exits) {
        if (to >= nodes_.size()) {
            report("control runs off the end of the code after " + describe(from));
            return;
        }
        if (!may_pass(from, to, exits)) {
            report("control passes from " + describe(from) + " into or out of a protected region at " + describe(to));
        }
        enter(to, depth);
    }

    void enter(size_t k, int depth) {
        const auto found = depth_.find(k);
        if (found != depth_.end()) {
            if (found->second != depth) {
                report("stack depth " + std::to_string(depth) + " meets depth " + std::to_string(found->second) +
                       " at " + describe(k));
            }
            return;
        }
        depth_[k] = depth;
        work_.push_back(k);
    }

    std::string describe(size_t k) const {
        if (k >= nodes_.size()) return "the end";
        const char* name = opcode_name(nodes_[k]->opcode);
        return label(nodes_[k]->offset) + " (" + (name ? name : "?") + ")";
    }

    bool in_part(size_t k, part p, uint32_t flags) const {
        for (const region& r : regions_of(k)) {
            if (r.second == p && clauses_[r.first].flags == flags) return true;
        }
        return false;
    }

    void check_operands(size_t k) {
        const ILInstr* node = nodes_[k];
        const uint32_t o = node->opcode;
        std::optional<uint32_t> local, argument;
        if (is_in(o, op::ldloc_0, op::ldloc_3)) local = o - op::ldloc_0;
        if (is_in(o, op::stloc_0, op::stloc_3)) local = o - op::stloc_0;
        if (o == op::ldloc_s || o == op::stloc_s || o == op::ldloca_s) local = node->imm8;
        if (o == op::ldloc || o == op::stloc || o == op::ldloca) local = node->imm16;
        if (is_in(o, op::ldarg_0, op::ldarg_3)) argument = o - op::ldarg_0;
        if (o == op::ldarg_s || o == op::starg_s || o == op::ldarga_s) argument = node->imm8;
        if (o == op::ldarg || o == op::starg || o == op::ldarga) argument = node->imm16;
        if (local && *local >= local_count_) {
            report("local " + std::to_string(*local) + " of " + std::to_string(local_count_) + " at " + describe(k));
        }
        const uint32_t arguments = signature_->params + (signature_->has_this ? 1 : 0);
        if (argument && *argument >= arguments) {
            report("argument " + std::to_string(*argument) + " of " + std::to_string(arguments) + " at " +
                   describe(k));
        }
    }

    void walk() {
        if (nodes_.empty()) {
            report("the body is empty");
            return;
        }
        enter(0, 0);
        for (const clause_range& c : clauses_) {
            const bool is_catch = c.flags == COR_ILEXCEPTION_CLAUSE_NONE || c.flags == COR_ILEXCEPTION_CLAUSE_FILTER;
            if (c.handler_begin < nodes_.size()) enter(c.handler_begin, is_catch ? 1 : 0);
            if (c.filter_begin && *c.filter_begin < nodes_.size()) enter(*c.filter_begin, 1);
        }
        while (!work_.empty()) {
            const size_t k = work_.front();
            work_.pop_front();
            step(k, depth_[k]);
        }
    }

    void step(size_t k, int depth) {
        const ILInstr* node = nodes_[k];
        const uint32_t o = node->opcode;
        check_operands(k);
        int pops = 0;
        int pushes = 0;
        if (o == op::call || o == op::callvirt || o == op::newobj) {
            const auto callee = callee_signature(module_, node->imm32);
            if (!callee) {
                report("the callee of " + describe(k) + " is unknown");
                return;
            }
            pops = static_cast<int>(callee->params) + (callee->has_this && o != op::newobj ? 1 : 0);
            pushes = o == op::newobj || callee->returns_value ? 1 : 0;
        } else if (!plain_effect(o, pops, pushes)) {
            report(describe(k) + " is not modelled by the checker");
            return;
        }
        if (depth < pops) {
            report("stack underflow at " + describe(k));
            return;
        }
        const int after = depth - pops + pushes;

        if (o == op::tail_) {
            const bool followed = k + 2 < nodes_.size() &&
                                  (nodes_[k + 1]->opcode == op::call || nodes_[k + 1]->opcode == op::callvirt) &&
                                  nodes_[k + 2]->opcode == op::ret;
            if (!followed) report("tail. at " + describe(k) + " is not followed by a call and ret");
        }
        if (o == op::ret) {
            if (!regions_of(k).empty()) report("ret inside a protected region at " + describe(k));
            if (depth != (signature_->returns_value ? 1 : 0)) {
                report("ret at " + describe(k) + " finds " + std::to_string(depth) + " values on the stack");
            }
            return;
        }
        if (o == op::rethrow && !in_part(k, part::handler, COR_ILEXCEPTION_CLAUSE_NONE)) {
            report("rethrow outside a catch handler at " + describe(k));
        }
        if (o == op::endfinally && !in_part(k, part::handler, COR_ILEXCEPTION_CLAUSE_FINALLY)) {
            report("endfinally outside a finally handler at " + describe(k));
        }
        if (o == op::throw_ || o == op::rethrow || o == op::endfinally || o == op::jmp) return;

        if (o == op::switch_) {
            for (uint32_t c = 0; c < node->imm32; ++c) flow(k, at(nodes_[k + 1 + c]->target), after, false);
            flow(k, k + 1 + node->imm32, after, false);
            return;
        }
        if (s_OpCodeFlags[o] & opcode_flag_branch) {
            flow(k, at(node->target), is_leave(o) ? 0 : after, is_leave(o));
        }
        if (!unconditional(o)) flow(k, k + 1, after, false);
    }

    ILRewriter& rewriter_;
    test_support::fake_module& module_;
    std::vector<ILInstr*> nodes_;
    std::map<const ILInstr*, size_t> index_;
    std::vector<clause_range> clauses_;
    std::optional<method_signature> signature_;
    uint32_t local_count_ = 0;
    std::map<size_t, int> depth_;
    std::deque<size_t> work_;
    std::vector<std::string> out_;
};

}  // namespace

std::vector<std::string> problems(ILRewriter& rewriter, test_support::fake_module& module, mdMethodDef method) {
    return checker(rewriter, module, method).run();
}

}  // namespace il_check
