#!/usr/bin/env python3
"""Generates the BGAPI message table from bgapi_messages.tsv.

Usage: gen_bgapi_table.py MESSAGES_TSV OUTPUT_DIR

Writes OUTPUT_DIR/bgapi_message_ids.h (the BgMessage enumeration: one name per row, the
row's position as its value), OUTPUT_DIR/bgapi_message_table.cpp (messageTable,
responseClasses, eventClasses) and OUTPUT_DIR/bgapi_views.h (a payload view per response
and event, with one accessor per parameter reading it at its offset). Every row is checked first: the rows come in the order
commands, responses, events, each sorted by class and id with ids counting from 0; the
header bytes agree with the kind, class, id and the fixed length of the parameter word;
the named parameter types agree with the word's codes. Any disagreement fails the build.
"""

import os
import sys

CLASS_COUNT = 10
KINDS = ("command", "response", "event")
KIND_PREFIX = {"command": "Cmd", "response": "Rsp", "event": "Evt"}

# Parameter type -> (4-bit code, bytes in the fixed part of the payload).
PARAM_TYPES = {
    "uint8": (2, 1),
    "int8": (3, 1),
    "uint16": (4, 2),
    "int16": (5, 2),
    "uint32": (6, 4),
    "int32": (7, 4),
    "uint8array": (8, 1),
    "string": (9, 1),
    "bd_addr": (10, 6),
    "uint16array": (11, 2),
}
ARRAY_CODES = (8, 9, 11)
KIND_SUFFIX = {"response": "Response", "event": "Event"}

# Parameter type -> (C++ type, reader of BgPayloadView) of a view's accessor.
ACCESSORS = {
    "uint8": ("uint8_t", "fieldU8"),
    "int8": ("int8_t", "fieldI8"),
    "uint16": ("uint16_t", "fieldU16"),
    "int16": ("int16_t", "fieldI16"),
    "uint32": ("uint32_t", "fieldU32"),
    "int32": ("int32_t", "fieldI32"),
    "bd_addr": ("std::array<uint8_t, 6>", "fieldAddress"),
    "uint8array": ("std::span<const uint8_t>", "fieldArray"),
    "string": ("std::span<const uint8_t>", "fieldArray"),
    "uint16array": ("std::span<const uint8_t>", "fieldArray"),
}
CODE_SIZE = {code: size for code, size in PARAM_TYPES.values()}
LARGEST_COMMAND_PAYLOAD = 16


class TableError(Exception):
    pass


def read_rows(path):
    with open(path, encoding="utf-8") as source:
        lines = source.read().splitlines()
    if not lines or not lines[0].startswith("index\tkind\tclass\tid\tname"):
        raise TableError(f"{path}: missing header row")
    rows = []
    for number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != 9:
            raise TableError(f"{path}:{number}: expected 9 columns, found {len(fields)}")
        index, kind, cls, ident, name, header_hex, word_hex, params, _check = fields
        rows.append({
            "line": number,
            "index": int(index),
            "kind": kind,
            "class": int(cls),
            "id": int(ident),
            "name": name,
            "header": [int(byte, 16) for byte in header_hex.split()],
            "word": int(word_hex, 16),
            "params": [p.split(":") for p in params.split(";")] if params else [],
        })
    return rows


def word_codes(word):
    codes = []
    while word != 0:
        codes.append(word & 0xF)
        word >>= 4
    return codes


def check_row(row, position):
    where = f"line {row['line']} ({row['name']})"
    if row["index"] != position:
        raise TableError(f"{where}: index {row['index']}, expected {position}")
    if row["kind"] not in KINDS:
        raise TableError(f"{where}: unknown kind {row['kind']}")
    if not 0 <= row["class"] < CLASS_COUNT:
        raise TableError(f"{where}: class {row['class']} out of range")
    codes = word_codes(row["word"])
    types = [kind for _name, kind in row["params"]]
    if any(kind not in PARAM_TYPES for kind in types):
        raise TableError(f"{where}: unknown parameter type in {types}")
    if codes != [PARAM_TYPES[kind][0] for kind in types]:
        raise TableError(f"{where}: parameter word {row['word']:#010x} disagrees with {types}")
    arrays = [i for i, code in enumerate(codes) if code in ARRAY_CODES]
    if arrays and arrays != [len(codes) - 1]:
        raise TableError(f"{where}: an array must be the one last parameter")
    fixed = sum(CODE_SIZE[code] for code in codes)
    type_byte = 0x80 if row["kind"] == "event" else 0x00
    expected = [type_byte, fixed, row["class"], row["id"]]
    if row["header"] != expected:
        raise TableError(f"{where}: header {row['header']}, expected {expected}")
    if row["kind"] == "command" and fixed > LARGEST_COMMAND_PAYLOAD:
        raise TableError(f"{where}: fixed payload of {fixed} bytes does not fit the packer")


def check_order(rows):
    """Each kind is one block, sorted by class and id, ids counting from 0 per class."""
    blocks = {kind: [r for r in rows if r["kind"] == kind] for kind in KINDS}
    if [r["kind"] for r in rows] != [k for k in KINDS for _ in blocks[k]]:
        raise TableError("rows are not grouped as commands, responses, events")
    for kind, block in blocks.items():
        next_id = {}
        previous_class = -1
        for row in block:
            if row["class"] < previous_class:
                raise TableError(f"line {row['line']}: {kind} classes out of order")
            previous_class = row["class"]
            if row["id"] != next_id.get(row["class"], 0):
                raise TableError(f"line {row['line']}: {kind} id {row['id']} out of sequence")
            next_id[row["class"]] = row["id"] + 1
    commands, responses = blocks["command"], blocks["response"]
    if [(r["class"], r["id"], r["name"]) for r in commands] != [
            (r["class"], r["id"], r["name"]) for r in responses]:
        raise TableError("responses do not follow the commands one for one")
    if len(rows) > 256:
        raise TableError("message indexes must fit 8 bits")
    return blocks


def enum_name(row):
    words = row["name"].split("_")
    return KIND_PREFIX[row["kind"]] + "".join(word.capitalize() for word in words)


def header_text(blocks, rows):
    lines = [
        "// Generated by gen_bgapi_table.py from bgapi_messages.tsv; edit those, not this file.",
        "//",
        "// BgMessage names every row of messageTable by kind and published name:",
        "// gap_connect_direct is CmdGapConnectDirect, RspGapConnectDirect; connection_status",
        "// is EvtConnectionStatus. The value is the row's position in messageTable; for a",
        "// command that is its message index.",
        "#pragma once",
        "",
        "#include <cstddef>",
        "#include <cstdint>",
        "",
        "constexpr size_t bgCommandCount = %d;" % len(blocks["command"]),
        "constexpr size_t bgResponseCount = %d;" % len(blocks["response"]),
        "constexpr size_t bgEventCount = %d;" % len(blocks["event"]),
        "constexpr size_t bgMessageCount = %d;" % len(rows),
        "constexpr size_t bgFirstResponse = bgCommandCount;",
        "constexpr size_t bgFirstEvent = bgCommandCount + bgResponseCount;",
        "constexpr size_t bgClassCount = %d;" % CLASS_COUNT,
        "",
        "enum class BgMessage : uint8_t {",
    ]
    lines += [f"    {enum_name(row)} = {row['index']}," for row in rows]
    lines += ["};", ""]
    return "\n".join(lines)


def class_arrays(kind, block):
    """The per-class arrays of row pointers and the class index entries that name them."""
    arrays, entries = [], []
    for cls in range(CLASS_COUNT):
        members = [row for row in block if row["class"] == cls]
        if not members:
            entries.append("    {nullptr, 0},")
            continue
        array = f"{kind}Class{cls}"
        arrays.append(f"constinit const MessageDef* const {array}[] = {{")
        arrays += [f"    &messageTable[{row['index']}]," for row in members]
        arrays.append("};")
        entries.append(f"    {{{array}, {len(members)}}},")
    return arrays, entries


def table_text(blocks, rows):
    lines = [
        "// Generated by gen_bgapi_table.py from bgapi_messages.tsv; edit those, not this file.",
        "#include \"conduit/bgapi/bgapi_table.h\"",
        "",
        "constinit const std::array<MessageDef, bgMessageCount> messageTable{{",
    ]
    for row in rows:
        header = ", ".join(f"0x{byte:02X}" for byte in row["header"])
        lines.append(f"    {{{{{header}}}, 0x{row['word']:08X}, BgMessage::{enum_name(row)}, "
                     f"\"{row['name']}\"}},")
    lines += ["}};", "", "namespace {", ""]
    response_arrays, response_entries = class_arrays("response", blocks["response"])
    event_arrays, event_entries = class_arrays("event", blocks["event"])
    lines += response_arrays + event_arrays
    lines += ["", "} // namespace", ""]
    lines += ["constinit const std::array<BgClassIndex, bgClassCount> responseClasses{{"]
    lines += response_entries + ["}};", ""]
    lines += ["constinit const std::array<BgClassIndex, bgClassCount> eventClasses{{"]
    lines += event_entries + ["}};", ""]
    return "\n".join(lines)


def camel_case(name, capitalize_first):
    words = name.split("_")
    first = words[0].capitalize() if capitalize_first else words[0]
    return first + "".join(word.capitalize() for word in words[1:])


def view_name(row):
    return "Bg" + camel_case(row["name"], True) + KIND_SUFFIX[row["kind"]]


def view_lines(row):
    """One view: an accessor per parameter, reading at the sum of the sizes before it."""
    lines = [f"// {row['name']} ({row['kind']})",
             f"struct {view_name(row)} : BgPayloadView {{",
             "    using BgPayloadView::BgPayloadView;"]
    offset = 0
    for name, kind in row["params"]:
        value_type, reader = ACCESSORS[kind]
        code, size = PARAM_TYPES[kind]
        arguments = f"{offset}, {size}" if code in ARRAY_CODES else f"{offset}"
        lines.append(f"    {value_type} {camel_case(name, False)}() const "
                     f"{{ return {reader}({arguments}); }}")
        offset += size
    lines += ["};", ""]
    return lines


def views_text(blocks):
    lines = [
        "// Generated by gen_bgapi_table.py from bgapi_messages.tsv; edit those, not this file.",
        "//",
        "// A payload view per response and event: Bg + the published name in camel case +",
        "// Response or Event (connection_status is BgConnectionStatusEvent), made from the",
        "// payload and the number of bytes received. Each parameter has an accessor of its",
        "// name in camel case that reads it at its offset; an array's accessor yields its data.",
        "// The reads are bounded as BgPayloadView describes.",
        "#pragma once",
        "",
        "#include \"conduit/bgapi/bgapi_view.h\"",
        "",
    ]
    for kind in KIND_SUFFIX:
        for row in blocks[kind]:
            lines += view_lines(row)
    return "\n".join(lines)


def write_if_changed(path, text):
    if os.path.exists(path):
        with open(path, encoding="utf-8") as existing:
            if existing.read() == text:
                return
    with open(path, "w", encoding="utf-8") as target:
        target.write(text)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    tsv, out_dir = argv[1], argv[2]
    try:
        rows = read_rows(tsv)
        for position, row in enumerate(rows):
            check_row(row, position)
        blocks = check_order(rows)
    except (TableError, ValueError) as error:
        print(f"gen_bgapi_table.py: {tsv}: {error}", file=sys.stderr)
        return 1
    os.makedirs(out_dir, exist_ok=True)
    write_if_changed(os.path.join(out_dir, "bgapi_message_ids.h"), header_text(blocks, rows))
    write_if_changed(os.path.join(out_dir, "bgapi_message_table.cpp"), table_text(blocks, rows))
    write_if_changed(os.path.join(out_dir, "bgapi_views.h"), views_text(blocks))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
