// Readable listings of a rewriter's instruction list, one instruction per line, as
// "IL_0000: ldarg.0", "IL_0003: br.s IL_0010", "IL_0008: switch (IL_0010, IL_0012)",
// and of its exception clauses. For tests and diagnostics.
//
// Offsets are computed from the list as it stands (each node at its current encoding,
// no widening), so a list can be listed before it is exported; after Import or Export
// they equal the nodes' offsets. Pseudo-instructions of kind op::empty are listed as
// "(empty)"; switch targets appear inside their switch's line.
#pragma once

#include <string>

#include "il/il_rewriter.h"

// The instruction list, lines joined with '\n' (none after the last line).
std::string il_listing(ILRewriter& rewriter);
// One line per clause: "finally try IL_0000-IL_0005 handler IL_0005-IL_0007",
// "catch 0x01000005 try ... handler ...", "filter IL_0010 try ... handler ...".
// The ends are exclusive.
std::string eh_listing(ILRewriter& rewriter);
