// Every method body of real assemblies (the fixture BodyExtractor writes at test time,
// named by NIMBREL_REAL_BODIES) goes through the rewriter via the runtime double:
// 1. import and export unchanged: identical code, identical clauses, the same local
//    signature and init-locals flag, max stack never below the original;
// 2. import, 200 nops after the first instruction, export: decoding the result gives
//    the original instructions with the nops inserted and short branches possibly
//    widened, and every branch, switch case and clause bound reaches the same
//    instruction as before.
// The instructions are decoded here with operand sizes written out independently of
// the rewriter's opcode table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "body_fixture.h"
#include "il/exception_section.h"
#include "il/il_rewriter.h"
#include "il/method_header.h"
#include "support/fake_profiler_info.h"

namespace {

constexpr int inserted_nops = 200;
constexpr size_t bodies_per_module = 4096;  // bounds what the double's allocator keeps

struct instruction {
    uint32_t offset;
    uint32_t opcode;  // 256 + second byte for 0xFE xx
    uint64_t operand;  // non-branch operand bytes, little-endian
    std::vector<int64_t> targets;  // branch or switch case targets (code offsets)
};

enum class operand { none, byte1, byte2, byte4, byte8, short_branch, long_branch, switch_table };

// Operand of each opcode by ECMA-335 Partition III, written as ranges.
operand operand_of(uint32_t opcode) {
    if (opcode >= 0x100) {
        const uint32_t second = opcode - 0x100;
        if (second == 0x06 || second == 0x07 || second == 0x15 || second == 0x16 || second == 0x1C)
            return operand::byte4;
        if (second >= 0x09 && second <= 0x0E) return operand::byte2;
        if (second == 0x12 || second == 0x19) return operand::byte1;
        return operand::none;
    }
    if ((opcode >= 0x0E && opcode <= 0x13) || opcode == 0x1F) return operand::byte1;
    if (opcode == 0x21 || opcode == 0x23) return operand::byte8;
    if (opcode == 0x20 || opcode == 0x22 || (opcode >= 0x27 && opcode <= 0x29)) return operand::byte4;
    if ((opcode >= 0x2B && opcode <= 0x37) || opcode == 0xDE) return operand::short_branch;
    if ((opcode >= 0x38 && opcode <= 0x44) || opcode == 0xDD) return operand::long_branch;
    if (opcode == 0x45) return operand::switch_table;
    if ((opcode >= 0x6F && opcode <= 0x75) || opcode == 0x79 || (opcode >= 0x7B && opcode <= 0x81) ||
        opcode == 0x8C || opcode == 0x8D || opcode == 0x8F || (opcode >= 0xA3 && opcode <= 0xA5) || opcode == 0xC2 ||
        opcode == 0xC6 || opcode == 0xD0)
        return operand::byte4;
    return operand::none;
}

uint64_t read_le(const uint8_t* p, uint32_t size) {
    uint64_t value = 0;
    for (uint32_t i = 0; i < size; ++i) value |= uint64_t{p[i]} << (8 * i);
    return value;
}

// Decodes the whole code; nothing when it does not decode into whole instructions.
std::optional<std::vector<instruction>> decode(const uint8_t* code, uint32_t size) {
    std::vector<instruction> out;
    uint32_t at = 0;
    while (at < size) {
        instruction insn{at, code[at], 0, {}};
        ++at;
        if (insn.opcode == 0xFE) {
            if (at == size) return std::nullopt;
            insn.opcode = 0x100 + code[at++];
        }
        const operand kind = operand_of(insn.opcode);
        const uint32_t width = kind == operand::byte1 || kind == operand::short_branch ? 1
                               : kind == operand::byte2                                 ? 2
                               : kind == operand::byte8                                 ? 8
                               : kind == operand::none                                  ? 0
                                                                                        : 4;
        if (size - at < width) return std::nullopt;
        if (kind == operand::switch_table) {
            const uint32_t count = static_cast<uint32_t>(read_le(code + at, 4));
            at += 4;
            if ((size - at) / 4 < count) return std::nullopt;
            const int64_t base = int64_t{at} + 4 * int64_t{count};
            for (uint32_t i = 0; i < count; ++i, at += 4) {
                insn.targets.push_back(base + static_cast<int32_t>(read_le(code + at, 4)));
            }
        } else if (kind == operand::short_branch) {
            insn.targets.push_back(int64_t{at} + 1 + static_cast<int8_t>(code[at]));
            at += 1;
        } else if (kind == operand::long_branch) {
            insn.targets.push_back(int64_t{at} + 4 + static_cast<int32_t>(read_le(code + at, 4)));
            at += 4;
        } else {
            insn.operand = read_le(code + at, width);
            at += width;
        }
        out.push_back(std::move(insn));
    }
    return out;
}

struct decoded_body {
    il_method_decoder header;
    std::vector<IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT> clauses;
};

std::optional<decoded_body> split(const std::vector<uint8_t>& body) {
    decoded_body out;
    if (!DecoderInit(&out.header, body.data(), static_cast<uint32_t>(body.size()))) return std::nullopt;
    const uint32_t count = out.header.eh != nullptr ? SectEH_ClauseCount(out.header.eh) : 0;
    for (uint32_t i = 0; i < count; ++i) {
        IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT buffer;
        out.clauses.push_back(*SectEH_EHClause(out.header.eh, i, &buffer));
    }
    return out;
}

bool same_clause(const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT& a, const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT& b) {
    return a.Flags == b.Flags && a.TryOffset == b.TryOffset && a.TryLength == b.TryLength &&
           a.HandlerOffset == b.HandlerOffset && a.HandlerLength == b.HandlerLength && a.ClassToken == b.ClassToken;
}

bool is_short_branch(uint32_t opcode) { return (opcode >= 0x2B && opcode <= 0x37) || opcode == 0xDE; }
uint32_t long_form(uint32_t opcode) { return opcode == 0xDE ? 0xDD : opcode + 13; }

// Index of the instruction at each offset of a decoded code; the code size maps to
// the instruction count (the end).
std::unordered_map<int64_t, size_t> index_by_offset(const std::vector<instruction>& code, uint32_t code_size) {
    std::unordered_map<int64_t, size_t> index;
    for (size_t i = 0; i < code.size(); ++i) index[code[i].offset] = i;
    index[code_size] = code.size();
    return index;
}

struct counts {
    size_t bodies = 0;
    size_t with_clauses = 0;
    size_t clauses = 0;
    size_t branches = 0;
    size_t widened = 0;
    size_t failures = 0;
    std::vector<std::string> first_failures;
};

class real_body_checker {
public:
    real_body_checker(const body_fixture::fixture& fixture, counts& tally) : fixture_(fixture), tally_(tally) {}

    void run() {
        for (size_t start = 0; start < fixture_.bodies.size(); start += bodies_per_module) {
            const size_t end = std::min(fixture_.bodies.size(), start + bodies_per_module);
            test_support::fake_profiler_info info;
            test_support::fake_module& module = info.add_module("RealBodies");
            const mdTypeDef owner = module.add_type_def("RealBodies.Holder");
            std::vector<mdMethodDef> methods;
            for (size_t i = start; i < end; ++i) {
                methods.push_back(module.add_method(owner, "M", {0x00, 0x00, 0x01}, fixture_.bodies[i].bytes));
            }
            for (size_t i = start; i < end; ++i) {
                check(info, module, methods[i - start], fixture_.bodies[i]);
            }
        }
    }

private:
    void fail(const body_fixture::body& body, const std::string& why) {
        ++tally_.failures;
        if (tally_.first_failures.size() < 20) {
            char token[16];
            std::snprintf(token, sizeof token, "0x%08X", body.token);
            tally_.first_failures.push_back(fixture_.assemblies[body.assembly] + " " + token + ": " + why);
        }
    }

    // Imports the method's original body and exports it after `edit`; the installed
    // body or nothing.
    template <class Edit>
    const std::vector<uint8_t>* round_trip(test_support::fake_profiler_info& info, test_support::fake_module& module,
                                           mdMethodDef method, const body_fixture::body& body, const char* pass,
                                           Edit edit) {
        module.method(method)->new_body.reset();  // serve the original again
        ILRewriter rewriter(&info, nullptr, module.module_id, method);
        HRESULT hr = rewriter.Import();
        if (hr != S_OK) {
            fail(body, std::string(pass) + ": Import failed " + std::to_string(hr));
            return nullptr;
        }
        edit(rewriter);
        hr = rewriter.Export();
        if (hr != S_OK) {
            fail(body, std::string(pass) + ": Export failed " + std::to_string(hr));
            return nullptr;
        }
        return module.body_set(method);
    }

    void check(test_support::fake_profiler_info& info, test_support::fake_module& module, mdMethodDef method,
               const body_fixture::body& body) {
        ++tally_.bodies;
        const auto original = split(body.bytes);
        if (!original) {
            fail(body, "the original body does not decode");
            return;
        }
        const il_method_decoder& old_header = original->header;
        tally_.clauses += original->clauses.size();
        tally_.with_clauses += original->clauses.empty() ? 0 : 1;

        // 1. Unchanged.
        const auto* same = round_trip(info, module, method, body, "unchanged", [](ILRewriter&) {});
        if (same == nullptr) return;
        const auto exported = split(*same);
        if (!exported) {
            fail(body, "unchanged: the exported body does not decode");
            return;
        }
        const il_method_decoder& new_header = exported->header;
        if (new_header.code_size != old_header.code_size ||
            !std::equal(old_header.code, old_header.code + old_header.code_size, new_header.code)) {
            fail(body, "unchanged: the code differs");
        }
        if (exported->clauses.size() != original->clauses.size() ||
            !std::equal(original->clauses.begin(), original->clauses.end(), exported->clauses.begin(), same_clause)) {
            fail(body, "unchanged: the clauses differ");
        }
        if (new_header.max_stack < old_header.max_stack) fail(body, "unchanged: max stack went down");
        if (new_header.local_var_sig_token != old_header.local_var_sig_token) fail(body, "local signature lost");
        if ((new_header.flags() & CorILMethod_InitLocals) != (old_header.flags() & CorILMethod_InitLocals)) {
            fail(body, "init-locals flag lost");
        }

        // 2. With nops after the first instruction (after a switch's case table).
        const auto before = decode(old_header.code, old_header.code_size);
        if (!before) {
            fail(body, "the original code does not decode");
            return;
        }
        const auto* grown = round_trip(info, module, method, body, "nops", [](ILRewriter& rewriter) {
            ILInstr* first = rewriter.first_instruction();
            if (first == rewriter.GetILList()) return;
            while (first->next->opcode == op::switch_target) first = first->next;
            for (int i = 0; i < inserted_nops; ++i) {
                ILInstr* nop = rewriter.CreateInstr();
                nop->opcode = op::nop;
                rewriter.InsertAfter(first, nop);
            }
        });
        if (grown == nullptr) return;
        compare_with_nops(body, *original, *grown, *before);
    }

    void compare_with_nops(const body_fixture::body& body, const decoded_body& original,
                           const std::vector<uint8_t>& grown_body, const std::vector<instruction>& before) {
        const auto grown = split(grown_body);
        if (!grown) {
            fail(body, "nops: the exported body does not decode");
            return;
        }
        const auto after = decode(grown->header.code, grown->header.code_size);
        if (!after) {
            fail(body, "nops: the exported code does not decode");
            return;
        }
        const size_t added = before.empty() ? 0 : inserted_nops;
        if (after->size() != before.size() + added) {
            fail(body, "nops: instruction count " + std::to_string(after->size()) + " instead of " +
                           std::to_string(before.size() + added));
            return;
        }
        if (grown->header.max_stack < original.header.max_stack) fail(body, "nops: max stack went down");
        // Where instruction i of the original went.
        auto moved = [&](size_t i) { return i == 0 ? 0 : i + added; };
        const auto old_index = index_by_offset(before, original.header.code_size);
        const auto new_index = index_by_offset(*after, grown->header.code_size);
        auto same_place = [&](int64_t old_offset, int64_t new_offset) {
            const auto o = old_index.find(old_offset);
            const auto n = new_index.find(new_offset);
            return o != old_index.end() && n != new_index.end() && moved(o->second) == n->second;
        };
        for (size_t i = 0; i < added; ++i) {
            if ((*after)[1 + i].opcode != 0x00) {
                fail(body, "nops: an inserted nop is missing");
                return;
            }
        }
        for (size_t i = 0; i < before.size(); ++i) {
            const instruction& old_insn = before[i];
            const instruction& new_insn = (*after)[moved(i)];
            const bool widened = is_short_branch(old_insn.opcode) && new_insn.opcode == long_form(old_insn.opcode);
            if (new_insn.opcode != old_insn.opcode && !widened) {
                fail(body, "nops: instruction " + std::to_string(i) + " changed its opcode");
                return;
            }
            tally_.widened += widened ? 1 : 0;
            tally_.branches += old_insn.targets.size();
            if (new_insn.operand != old_insn.operand || new_insn.targets.size() != old_insn.targets.size()) {
                fail(body, "nops: instruction " + std::to_string(i) + " changed its operand");
                return;
            }
            for (size_t t = 0; t < old_insn.targets.size(); ++t) {
                if (!same_place(old_insn.targets[t], new_insn.targets[t])) {
                    fail(body, "nops: target " + std::to_string(t) + " of instruction " + std::to_string(i) +
                                   " moved to another instruction");
                    return;
                }
            }
        }
        if (grown->clauses.size() != original.clauses.size()) {
            fail(body, "nops: clause count changed");
            return;
        }
        for (size_t c = 0; c < original.clauses.size(); ++c) {
            const auto& o = original.clauses[c];
            const auto& n = grown->clauses[c];
            const bool filter = o.Flags == COR_ILEXCEPTION_CLAUSE_FILTER;
            if (n.Flags != o.Flags || !same_place(o.TryOffset, n.TryOffset) ||
                !same_place(int64_t{o.TryOffset} + o.TryLength, int64_t{n.TryOffset} + n.TryLength) ||
                !same_place(o.HandlerOffset, n.HandlerOffset) ||
                !same_place(int64_t{o.HandlerOffset} + o.HandlerLength, int64_t{n.HandlerOffset} + n.HandlerLength) ||
                (filter ? !same_place(o.FilterOffset, n.FilterOffset) : n.ClassToken != o.ClassToken)) {
                fail(body, "nops: clause " + std::to_string(c) + " no longer covers the same instructions");
                return;
            }
        }
    }

    const body_fixture::fixture& fixture_;
    counts& tally_;
};

TEST(RealBodies, EveryBodyRoundTripsUnchangedAndWithInsertedNops) {
    const char* path = std::getenv("NIMBREL_REAL_BODIES");
    ASSERT_NE(path, nullptr) << "NIMBREL_REAL_BODIES must name the fixture BodyExtractor wrote";
    body_fixture::fixture fixture;
    std::string error;
    ASSERT_TRUE(body_fixture::read(path, fixture, error)) << error;
    ASSERT_GT(fixture.bodies.size(), 100000u) << "the fixture should hold every body of several large assemblies";

    counts tally;
    real_body_checker(fixture, tally).run();

    std::ostringstream summary;
    summary << tally.bodies << " bodies (" << fixture.total_bytes << " bytes) from " << fixture.assemblies.size()
            << " assemblies; " << tally.with_clauses << " with " << tally.clauses << " clauses; " << tally.branches
            << " branch targets; " << tally.widened << " short branches widened by the nops; " << tally.failures
            << " failures";
    std::printf("%s\n", summary.str().c_str());
    RecordProperty("summary", summary.str());
    std::string listed;
    for (const std::string& failure : tally.first_failures) listed += "\n  " + failure;
    EXPECT_EQ(tally.failures, 0u) << "first failures:" << listed;
    EXPECT_EQ(tally.bodies, fixture.bodies.size());
    // The extractor counted the exception regions with System.Reflection.Metadata.
    EXPECT_EQ(tally.with_clauses, fixture.bodies_with_regions);
    EXPECT_EQ(tally.clauses, fixture.regions);
}

}  // namespace
