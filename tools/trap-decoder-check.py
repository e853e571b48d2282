#!/usr/bin/env python3
"""The trap harness's instruction decoder against objdump, on random encodings.

tvr-trap-decoder-sample writes a few thousand encodings in each instruction set, from a fixed
seed and leaning toward the forms the decoder accepts and their near misses, with what the
decoder makes of each; objdump disassembles the same bytes. Where the decoder accepts an
encoding, the two must agree on the length, the operation, the width, the register, the
memory operand (base, index and scale, displacement, RIP-relative) and the port. Where it
refuses one, objdump must not read a plain accepted form there: one written with no prefix
but a single 0x66 and, in 64-bit code, a REX right before the opcode, and shown with no
prefix word (objdump names a prefix that changes nothing, and compilers write none). Some
forms look alike in objdump's text (an absolute address with or without a DS prefix, or
with a 16-bit address-size prefix), which is why the prefixes are read from the bytes.

Usage: tools/trap-decoder-check.py BUILD_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SEED = 1210
COUNT = 4000
# Each encoding (15 bytes, the longest instruction) starts a slot of one-byte nops, on which
# objdump is back in step after the rest of the encoding, whatever it made of it.
SLOT = 32
NOP = 0x90
ARCHITECTURES = {"32": "i386", "64": "i386:x86-64"}

LEGACY_PREFIXES = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3}
PREFIX_WORD = re.compile(
    r"rex(\.[WRXB]+)?|data16|data32|addr16|addr32|[cdefgs]s|lock|repn?z|rep|bnd|notrack|"
    r"xacquire|xrelease")
# A REX without effect, or an operand-size prefix that another prefix overrules.
HARMLESS_WORD = re.compile(r"rex(\.[WRXB]+)?|data16")

# General registers by name: (encoding number, bytes, one of AH, CH, DH and BH).
REGISTERS = {}
for number, name in enumerate(["ax", "cx", "dx", "bx", "sp", "bp", "si", "di"]):
    REGISTERS.update({"r" + name: (number, 8, False), "e" + name: (number, 4, False),
                      name: (number, 2, False)})
for number in range(8, 16):
    REGISTERS.update({f"r{number}": (number, 8, False), f"r{number}d": (number, 4, False),
                      f"r{number}w": (number, 2, False), f"r{number}b": (number, 1, False)})
for number, name in enumerate(["al", "cl", "dl", "bl", "spl", "bpl", "sil", "dil"]):
    REGISTERS[name] = (number, 1, False)
for number, name in enumerate(["ah", "ch", "dh", "bh"]):
    REGISTERS[name] = (number, 1, True)
NO_INDEX = {"eiz", "riz"}
ACCUMULATORS = {"al": 1, "ax": 2, "eax": 4}
SIZES = {"BYTE": 1, "WORD": 2, "DWORD": 4}
MEMORY = re.compile(r"(BYTE|WORD|DWORD) PTR (?:ds:(0x[0-9a-f]+)|\[([^\]]+)\])")
TERM = re.compile(r"([+-]?)([a-z0-9]+)(?:\*([1248]))?")
HEX = re.compile(r"0x[0-9a-f]+")


def int32(value):
    return (value + 2**31) % 2**32 - 2**31


def register_text(register):
    number, _, high = register
    return f"{number}h" if high else str(number)


def memory_operand(text, address_bytes):
    """(width, "base=B index=I*S disp=D") of a memory operand, or None."""
    match = MEMORY.fullmatch(text)
    if not match:
        return None
    width = SIZES[match[1]]
    if match[2]:
        return width, f"base=- index=- disp={int32(int(match[2], 16))}"
    base, index, displacement = "-", "-", 0
    for term in re.split(r"(?=[+-])", match[3]):
        parts = TERM.fullmatch(term)
        if not parts:
            return None
        sign, name, scale = parts.groups()
        register = REGISTERS.get(name)
        if HEX.fullmatch(name):
            displacement = -int(name, 16) if sign == "-" else int(name, 16)
        elif name == "rip" and address_bytes == 8:
            base = "rip"
        elif name in NO_INDEX and scale:
            pass
        elif register and register[1] == address_bytes:
            if scale:
                index = f"{register[0]}*{scale}"
            else:
                base = str(register[0])
        else:
            return None
    return width, f"base={base} index={index} disp={int32(displacement)}"


def accepted_form(mnemonic, operands, address_bytes):
    """The instruction as tvr-trap-decoder-sample writes it, or None when objdump's text is
    none of the forms the decoder accepts."""
    if len(operands) != 2:
        return None
    if mnemonic in ("in", "out"):
        data, port = operands if mnemonic == "in" else operands[::-1]
        if data not in ACCUMULATORS or not (port == "dx" or HEX.fullmatch(port)):
            return None
        return f"{mnemonic} w={ACCUMULATORS[data]} port={port}"
    target, source = operands
    load = memory_operand(source, address_bytes)
    register = REGISTERS.get(target)
    if mnemonic == "movzx" and load and register and load[0] <= register[1]:
        return f"load w={load[0]} reg={register[0]} dest={register[1]} {load[1]}"
    if mnemonic != "mov":
        return None
    if load and register and load[0] == register[1]:
        return f"load w={load[0]} reg={register_text(register)} dest={load[0]} {load[1]}"
    store = memory_operand(target, address_bytes)
    register = REGISTERS.get(source)
    if store and register and store[0] == register[1]:
        return f"store w={store[0]} reg={register_text(register)} {store[1]}"
    if store and HEX.fullmatch(source):
        immediate = int(source, 16) & (2 ** (8 * store[0]) - 1)
        return f"store w={store[0]} imm={immediate:#x} {store[1]}"
    return None


def disassemble(objdump, code, architecture, folder):
    """objdump's first instruction in each slot: (length, text), or None."""
    path = os.path.join(folder, architecture + ".bin")
    with open(path, "wb") as out:
        out.write(b"".join(bytes(c) + bytes([NOP]) * (SLOT - len(c)) for c in code))
    command = [objdump, "-D", "-z", "-b", "binary", "-m", architecture, "-M", "intel",
               "--insn-width=15", path]
    listing = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    found = {}
    for line in listing.splitlines():
        fields = line.split("\t")
        if len(fields) < 3 or not fields[0].strip().endswith(":"):
            continue
        address = int(fields[0].strip()[:-1], 16)
        if address % SLOT == 0:
            found[address // SLOT] = (len(fields[1].split()), fields[2].split("#")[0].strip())
    return [found.get(slot) for slot in range(len(code))]


def words_of(text):
    """objdump's text as (prefix words, mnemonic, operands)."""
    words = text.split()
    prefixes = []
    while words and PREFIX_WORD.fullmatch(words[0]):
        prefixes.append(words.pop(0))
    mnemonic = words[0] if words else ""
    operands = " ".join(words[1:]).split(",") if len(words) > 1 else []
    return prefixes, mnemonic, operands


def written_plainly(code, long_mode):
    """No prefix but one 0x66 and, in 64-bit code, a REX right before the opcode."""
    at = 1 if code[0] == 0x66 else 0
    if long_mode and 0x40 <= code[at] <= 0x4F:
        at += 1
    return code[at] not in LEGACY_PREFIXES


def disagreement(code, decoded, seen, long_mode):
    """Why objdump disagrees with the decoder on one encoding, or None."""
    if seen is None:
        return "objdump shows no instruction at its start"
    length, text = seen
    prefixes, mnemonic, operands = words_of(text)
    form = accepted_form(mnemonic, operands, 8 if long_mode else 4)
    if decoded == "refused":
        if form and not prefixes and written_plainly(code, long_mode):
            return "refused, objdump reads a plain accepted form"
        return None
    if not form or not all(HARMLESS_WORD.fullmatch(p) for p in prefixes):
        return "accepted, objdump reads another instruction"
    return None if decoded == f"len={length} {form}" else "accepted, objdump reads it otherwise"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.splitlines()[-1])
    sample = os.path.join(sys.argv[1], "bin", "tvr-trap-decoder-sample")
    objdump = shutil.which("objdump")
    if not objdump:
        sys.exit("trap decoder check: objdump is missing (tools/setup.sh installs binutils)")
    lines = subprocess.run([sample, str(SEED), str(COUNT)], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for mode, architecture in ARCHITECTURES.items():
            samples = [line.split(" ", 2)[1:] for line in lines if line.startswith(mode + " ")]
            code = [bytes.fromhex(hex_bytes) for hex_bytes, _ in samples]
            seen = disassemble(objdump, code, architecture, folder)
            accepted = sum(decoded != "refused" for _, decoded in samples)
            found = 0
            for (hex_bytes, decoded), encoding, shown in zip(samples, code, seen):
                reason = disagreement(encoding, decoded, shown, mode == "64")
                if reason:
                    found += 1
                    objdump_reads = f"len={shown[0]} {shown[1]}" if shown else "nothing"
                    print(f"{mode}-bit {hex_bytes}: {reason}\n"
                          f"  decoder: {decoded}\n  objdump: {objdump_reads}")
            print(f"{mode}-bit: {len(samples)} encodings, {accepted} accepted, "
                  f"{len(samples) - accepted} refused; {found} disagreements with objdump")
            failures += found
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
