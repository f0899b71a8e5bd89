#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

The seeds are the signatures and method bodies the codec's documentation and unit
tests use as examples; the files are committed, and running this again rewrites
them identically.
"""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent

SIGNATURES = {
    "instance_i4_string": "20 02 01 08 0E",
    "byref_i4": "00 01 01 10 08",
    "class_instantiation": "00 01 01 15 12 09 01 0E",
    "class_typeref": "00 01 01 12 49",
    "generic_method": "30 01 01 01 1E 00",
    "two_sentinels": "05 03 01 08 41 0E 41 08",
    "vararg": "05 02 01 08 41 0E",
    "nested_instantiation": "00 01 01 15 12 05 02 0E 15 12 09 01 08",
    "array_of_instantiation": "00 01 01 1D 15 11 0D 02 08 08",
    "array_with_shape": "00 01 01 14 08 02 02 03 04 02 00 00",
    "pointer_and_modifiers": "00 02 01 0F 20 05 01 1F 09 10 08",
    "function_pointer": "00 02 15 11 0D 01 08 1B 00 02 0E 08 1C 08",
    "field": "06 1F 09 08",
    "locals_pinned": "07 03 45 10 08 20 05 45 0E 16",
    "property_indexer": "28 01 0E 10 08",
    "compressed_counts": "07 C0 00 40 00 08",
}


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


def fat_header(code_size, more_sections, max_stack=2, token=0):
    flags = 0x1B if more_sections else 0x13
    return bytes([flags, 0x30]) + u16(max_stack) + u32(code_size) + u32(token)


def pad4(body):
    return body + bytes((-len(body)) % 4)


def small_section(clauses, more=False):
    data = b"".join(u16(f) + u16(to) + bytes([tl]) + u16(ho) + bytes([hl]) + u32(tok)
                    for f, to, tl, ho, hl, tok in clauses)
    return bytes([0x81 if more else 0x01, 4 + len(data), 0, 0]) + data


def fat_section(clauses, more=False):
    data = b"".join(b"".join(u32(v) for v in clause) for clause in clauses)
    size = 4 + len(data)
    return bytes([0xC1 if more else 0x41]) + size.to_bytes(3, "little") + data


def fat_body(code, sections=()):
    body = fat_header(len(code), bool(sections)) + code
    for section in sections:
        body = pad4(body) + section
    return body


CATCH = (0, 2, 8, 10, 5, 0x01000005)
FINALLY = (2, 0, 2, 2, 2, 0)
FILTER = (1, 2, 4, 10, 5, 6)

BODIES = {
    "tiny_nop_ret": bytes([0x0A, 0x00, 0x2A]),
    "fat_no_sections": fat_body(bytes([0, 0, 0, 0, 0x2A])),
    "fat_small_eh": fat_body(bytes([0, 0, 0, 0, 0x2A]), [small_section([FINALLY])]),
    "fat_small_eh_size_without_header":
        pad4(fat_header(5, True) + bytes(5)) + bytes([0x01, 12, 0, 0]) + small_section([FINALLY])[4:],
    "fat_fat_eh": fat_body(bytes(16), [fat_section([CATCH, FILTER])]),
    "fat_eh_then_other_kind": fat_body(bytes(5), [small_section([FINALLY], more=True)])
    + bytes([0x02, 0x08, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD]),
    "fat_catch_16": fat_body(bytes(range(0x80, 0x90)), [small_section([CATCH])]),
    "fat_code_13": fat_body(bytes(range(0x80, 0x8D)), [small_section([FINALLY])]),
    "fat_two_eh_sections": fat_body(bytes(12), [small_section([FINALLY], more=True), fat_section([CATCH])]),
}


def control(edits, offset, count, spare):
    return bytes([edits]) + u16(offset) + bytes([count, spare, 0, 0, 0])


COMPOSER = {
    "insert_0_into_catch": control(0x70, 0, 4, 16) + BODIES["fat_catch_16"],
    "insert_at_try_end": control(0x70, 10, 4, 16) + BODIES["fat_catch_16"],
    "insert_in_handler": control(0x70, 12, 4, 16) + BODIES["fat_catch_16"],
    "insert_after_code_13": control(0x70, 13, 4, 16) + BODIES["fat_code_13"],
    "insert_into_tiny": control(0x70, 1, 2, 4) + BODIES["tiny_nop_ret"],
    "set_tiny_body_in_80": control(0x02, 0, 0, 75) + bytes([0x12, 0x00, 0x00, 0x00, 0x2A]),
    "shift_two_sections": control(0x31, 0, 4, 8) + BODIES["fat_two_eh_sections"],
    "insert_into_filter_block": control(0x70, 8, 4, 16) + fat_body(bytes(16), [fat_section([FILTER])]),
    "dump_fat_with_clauses": control(0x77, 0, 0, 0) + BODIES["fat_fat_eh"],
    # Found by fuzzing: an empty body copied into an empty (null) buffer.
    "set_empty_body_into_empty_buffer": control(0x02, 0, 0, 0),
}


def write(target, seeds):
    directory = HERE / "corpus" / target
    directory.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (directory / name).write_bytes(data)


def main():
    write("fuzz_sig_parser", {name: bytes.fromhex(text) for name, text in SIGNATURES.items()})
    write("fuzz_method_decoder", BODIES)
    write("fuzz_method_composer", COMPOSER)


if __name__ == "__main__":
    main()
