#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_il_rewriter_import into corpus/fuzz_il_rewriter_import/.

The seeds are real method bodies picked from the fixture that BodyExtractor writes
(every body of the runtime's and the SDK's assemblies): for each kind of body (tiny,
fat without sections, with a small or a fat exception section, with filter, finally
or fault clauses) the first few of at most 512 bytes, in file order, so running this
again over the same installation rewrites the same files. Inputs the fuzzer once
failed on are kept beside them as found_* files; this script leaves them alone.

    tests/fuzz/make_rewriter_seeds.py <fixture file>
"""
import pathlib
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent
OUT = HERE / "corpus" / "fuzz_il_rewriter_import"
PER_KIND = 5
MAX_SIZE = 512


def bodies(path):
    data = pathlib.Path(path).read_bytes()
    assert data[:8] == b"NBBODY01", "not a body fixture"
    at, assembly = 8, None
    while at < len(data):
        kind = data[at]
        at += 1
        if kind == 1:
            (length,) = struct.unpack_from("<I", data, at)
            assembly = data[at + 4:at + 4 + length].decode()
            at += 4 + length
        elif kind == 2:
            token, size = struct.unpack_from("<II", data, at)
            yield assembly, token, data[at + 8:at + 8 + size]
            at += 8 + size
        else:
            return


def kinds(body):
    if body[0] & 3 == 2:
        return ["tiny"]
    flags, code_size = body[0] | (body[1] << 8), struct.unpack_from("<I", body, 4)[0]
    if not flags & 0x8:
        return ["fat"]
    section = (12 + code_size + 3) & ~3
    if section + 4 > len(body) or not body[section] & 1:
        return ["other_section"]
    fat = body[section] & 0x40
    size = (struct.unpack_from("<I", body, section)[0] >> 8) if fat else body[section + 1]
    clause_size = 24 if fat else 12
    found = ["fat_section" if fat else "small_section"]
    for i in range((size - 4) // clause_size):
        at = section + 4 + i * clause_size
        if at + 4 > len(body):
            break
        clause_flags = struct.unpack_from("<I" if fat else "<H", body, at)[0]
        found.append({0: "catch", 1: "filter", 2: "finally", 4: "fault"}.get(clause_flags, "odd_clause"))
    return found


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    OUT.mkdir(parents=True, exist_ok=True)
    taken = {}
    for assembly, token, body in bodies(sys.argv[1]):
        if len(body) > MAX_SIZE:
            continue
        for kind in kinds(body):
            if taken.get(kind, 0) < PER_KIND:
                taken[kind] = taken.get(kind, 0) + 1
                name = f"{kind}_{assembly.removesuffix('.dll')}_{token:08x}"
                (OUT / name).write_bytes(body)
                break
    for kind, count in sorted(taken.items()):
        print(f"{count} {kind}")


if __name__ == "__main__":
    main()
