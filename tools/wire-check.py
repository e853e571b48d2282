#!/usr/bin/env python3
"""The card's serial lines, recorded by tvrbios-emu --vcd and decoded by sigrok's SPI decoder
(mode 0, chip select active low, most significant bit first), against what the utility must
send to each flash part: the identification and the first read of a programming run, its
status writes, chip erase and first page or byte programs with their status polls, the end
of a byte-by-byte pass, and the final protection. The decoder was written by others from the
parts' and the bus's own descriptions, so it catches a mistake that our driver and our
emulated parts share.

Usage: wire-check.py BUILD_DIR [--break edge|select]

--break checks the first part, then damages its programming window (a bit taken on the wrong
clock edge, or a chip select that rises one byte early), checks it again and fails with the
reason. Without it, after the three parts pass, both damages are tried on one part's window
and must be refused.
"""
import argparse
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

CAPACITY = 131072
READ_STATUS = 0x05
WRITE_ENABLE = 0x06
WRITE_STATUS = 0x01
WRITE_DISABLE = 0x04
PROGRAM = 0x02
AUTO_INCREMENT = 0xAF
READ = 0x03
BUSY = 0x01
# The identifiers of the lines in the emulator's dumps.
SELECT, CLOCK, DATA_IN, WRITE_PROTECT_N, BYPASS = "!", '"', "#", "%", "&"
# Chip-select cycles of the programming window: the status write, the erase and its polls,
# and the first page or byte programs.
PROGRAM_WINDOW = 4500
MIN_PROGRAMS = 3
MIN_BYTE_PROGRAMS = 256


class Part:
    def __init__(self, identification, status_enable, erase, page):
        self.identification = identification  # (bytes out, bytes in, check of the answer)
        self.status_enable = status_enable
        self.erase = erase
        self.page = page


PARTS = {
    "at25f1024": Part([([0x15], 1, lambda a: a == [0x1F])], WRITE_ENABLE, 0x62, 256),
    "m25p10": Part([([0x15], 1, lambda a: a != [0x1F]),
                    ([0xAB, 0, 0, 0], 2, lambda a: a[0] == 0x10)], WRITE_ENABLE, 0xC7, 128),
    "sst25vf010": Part([([0x15], 1, lambda a: a != [0x1F]),
                        ([0xAB, 0, 0, 0], 2, lambda a: a == [0xBF, 0x49])], 0x50, 0x60, 1),
}


class Mismatch(Exception):
    pass


# --- what the decoder saw --------------------------------------------------------------------

def decode(vcd, names=None):
    """The chip-select cycles in `vcd` as (bytes out, bytes in), in order. With a set in
    `names`, the flash decoder stacked on the SPI one adds the names of the commands it knows."""
    decoders = "spi:clk=clock:mosi=data_in:miso=data_out:cs=chip_select_n:cpol=0:cpha=0:" \
               "cs_polarity=active-low:bitorder=msb-first"
    annotations = "spi=mosi-transfer:miso-transfer"
    if names is not None:
        decoders += ",spiflash"
        annotations += ",spiflash=commands"
    result = subprocess.run(
        ["sigrok-cli", "-I", "vcd:compress=1", "-i", vcd, "-P", decoders, "-A", annotations,
         "--protocol-decoder-jsontrace"],
        check=True, capture_output=True, text=True)
    cycles = {}
    for event in json.loads(result.stdout)["traceEvents"]:
        if event.get("ph") != "B":
            continue
        if event["pid"].startswith("spiflash"):
            # "Page program (addr 0x000100, 256 bytes): data": the name alone.
            name = event["name"].replace("Command: ", "").split(":")[0]
            names.add(re.sub(r" \(addr [^)]*\)", "", name))
            continue
        side = "out" if event["tid"].startswith("MOSI") else "in"
        cycles.setdefault(event["ts"], {})[side] = [int(b, 16) for b in event["name"].split()]
    return [(c["out"], c["in"]) for _, c in sorted(cycles.items())]


def tokens(cycles):
    """Runs of status reads become one wait with the statuses read."""
    result = []
    for out, answer in cycles:
        if out[:1] == [READ_STATUS] and len(out) == 2:
            if result and result[-1][0] == "wait":
                result[-1][1].append(answer[1])
            else:
                result.append(("wait", [answer[1]]))
        else:
            result.append(("cmd", out, answer))
    return result


# --- what the utility must send ----------------------------------------------------------------

def command(out, answer_length=0, check=None, what=None):
    return ("cmd", out, answer_length, check, what or " ".join("%02X" % b for b in out[:5]))


def wait(extra_read=False, level=None):
    return ("wait", extra_read, level)


def protection(part, level):
    status = 0x80 | (level << 2)
    return [command([part.status_enable]), command([WRITE_STATUS, status]),
            wait(extra_read=True, level=level)]


def address(offset):
    return [(offset >> 16) & 0xFF, (offset >> 8) & 0xFF, offset & 0xFF]


def identification_and_read(part, before):
    expected = [command(out, length, check, "identification %02X" % out[0])
                for out, length, check in part.identification]
    expected.append(command([READ] + address(0), CAPACITY, lambda a: bytes(a) == before,
                            "read of the whole part"))
    return expected


def programming_start(part, after):
    yield from protection(part, 0)
    yield from [command([WRITE_ENABLE]), command([part.erase]), wait()]
    if part.page > 1:
        for offset in range(0, CAPACITY, part.page):
            data = list(after[offset:offset + part.page])
            yield command([WRITE_ENABLE])
            yield command([PROGRAM] + address(offset) + data, what="page program at %05X" % offset)
            yield wait()
        return
    yield command([WRITE_ENABLE])
    yield command([AUTO_INCREMENT] + address(0) + [after[0]], what="first byte program")
    yield wait()
    for offset in range(1, CAPACITY):
        yield command([AUTO_INCREMENT, after[offset]], what="byte program at %05X" % offset)
        yield wait()
    yield command([WRITE_DISABLE])


def match_command(token, expected):
    _, out, length, check, what = expected
    if token[0] != "cmd":
        raise Mismatch("%d status reads where %s belongs" % (len(token[1]), what))
    got_out, got_in = token[1], token[2]
    if len(got_out) != len(out) + length or got_out[:len(out)] != out:
        raise Mismatch("%s expected, decoded %d bytes: %s" %
                       (what, len(got_out), " ".join("%02X" % b for b in got_out[:12])))
    if check and not check(got_in[len(out):]):
        raise Mismatch("%s answered %s" % (what, " ".join("%02X" % b for b in got_in[len(out):][:12])))


def match_wait(token, expected, cut):
    _, extra_read, level = expected
    if token[0] != "wait":
        raise Mismatch("status polls expected, decoded %s" % " ".join("%02X" % b for b in token[1][:5]))
    statuses = token[1]
    ready = 1 + extra_read
    if cut:
        return
    if len(statuses) < ready or any(s & BUSY for s in statuses[-ready:]) or \
            not all(s & BUSY for s in statuses[:-ready]):
        raise Mismatch("status polls do not end when the part is ready: %s" %
                       " ".join("%02X" % s for s in statuses[:8]))
    if level is not None and (statuses[-1] >> 2) & 3 != level:
        raise Mismatch("protection level %d expected, status read back %02X" % (level, statuses[-1]))


def match(decoded, expected, prefix=False):
    """Matches the decoded tokens one by one; with `prefix` the window may end anywhere."""
    expected = iter(expected)
    for index, token in enumerate(decoded):
        item = next(expected, None)
        if item is None:
            raise Mismatch("more cycles than expected: %s" % (token,))
        if item[0] == "cmd":
            match_command(token, item)
        else:
            match_wait(token, item, cut=prefix and index == len(decoded) - 1)
    if not prefix and next(expected, None) is not None:
        raise Mismatch("the trace ends before the sequence does")


# --- recording -------------------------------------------------------------------------------

def emulate(emulator, workdir, part, traces):
    args = [emulator, "--date", "2025-01-01", "--card", "100,flash=%s,image=card.bin" % part]
    for trace in traces:
        args += ["--vcd", trace]
    args += ["/i", "new.bin"]
    status = subprocess.run(args, cwd=workdir, capture_output=True).returncode
    if status != 1:
        raise Mismatch("the programming run ended with status %d" % status)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def record(emulator, workdir, part_name, traces):
    """A programming run on a card that holds card-before.bin; the card's content afterwards."""
    shutil.copy(os.path.join(workdir, "card-before.bin"), os.path.join(workdir, "card.bin"))
    emulate(emulator, workdir, part_name, traces)
    return read(os.path.join(workdir, "card.bin"))


def check_program_window(part, vcd, after, names=None):
    """The decoded programming window; the number of programs it held."""
    program = tokens(decode(vcd, names))
    match(program, programming_start(part, after), prefix=True)
    programs = sum(1 for t in program if t[0] == "cmd" and t[1][0] in (PROGRAM, AUTO_INCREMENT))
    needed = MIN_PROGRAMS if part.page > 1 else MIN_BYTE_PROGRAMS
    if programs < needed:
        raise Mismatch("only %d programs in the window" % programs)
    return program, programs


def window_path(workdir, part_name, window):
    return os.path.join(workdir, "%s-%s.vcd" % (part_name, window))


def check_part(emulator, workdir, part_name):
    """Two runs of the same update: the first and the programming windows, then the last
    cycles, as many as the protection's own take. Returns the number of programs seen and the
    card's content after the update."""
    part = PARTS[part_name]
    path = lambda window: window_path(workdir, part_name, window)
    first = len(part.identification) + 1
    after = record(emulator, workdir, part_name,
                   ["%s,keep=%d" % (path("first"), first),
                    "%s,skip=%d,keep=%d" % (path("program"), first, PROGRAM_WINDOW)])
    names = set()
    program, programs = check_program_window(part, path("program"), after, names)
    match(tokens(decode(path("first"))),
          identification_and_read(part, read(os.path.join(workdir, "card-before.bin"))))
    status_reads = len(program[2][1])
    windows = ["%s,last=%d" % (path("last"), 2 + status_reads)]
    if part.page == 1:
        windows.append(last_byte_window(path("end"), first, program))
    record(emulator, workdir, part_name, windows)
    match(tokens(decode(path("last"))), protection(part, 3))
    if part.page == 1:
        match(tokens(decode(path("end"))),
              [command([AUTO_INCREMENT, after[-1]], what="last byte program"), wait(),
               command([WRITE_DISABLE], what="write disable after the last byte")])
    check_pins(path("program"), path("last"))
    return programs, after, names


def last_byte_window(vcd, first, program):
    """The end of a byte-by-byte pass: the last byte, its polls and the write disable. Where
    it lies follows from the programming window, each byte taking the polls the second did:
    the status write and the erase with their polls, the write enable, the first byte with its
    address and polls, then one command and its polls for each further byte."""
    status_polls, erase_polls = len(program[2][1]), len(program[5][1])
    first_byte_polls, byte_polls = len(program[8][1]), len(program[10][1])
    last_byte = first + 2 + status_polls + 2 + erase_polls + 1 + 1 + first_byte_polls + \
        (CAPACITY - 2) * (1 + byte_polls)
    return "%s,skip=%d,keep=%d" % (vcd, last_byte, byte_polls + 2)


def check_pins(program, last):
    """The part is writable, and software holds the lines, for every command of the update;
    at its end the part is write-protected again and the lines handed back."""
    levels = {}
    for _, signal, value in read_vcd(program)[1]:
        if signal == SELECT and value == "0" and (levels[WRITE_PROTECT_N], levels[BYPASS]) != ("1", "1"):
            raise Mismatch("a command went out while the part was write-protected or the lines "
                           "were not handed to software")
        levels[signal] = value
    for _, signal, value in read_vcd(last)[1]:
        levels[signal] = value
    if (levels[WRITE_PROTECT_N], levels[BYPASS]) != ("0", "0"):
        raise Mismatch("the update ends with the part writable or the lines held by software")


# --- damaged traces ----------------------------------------------------------------------------


def read_vcd(path):
    header, events, time = [], [], 0
    with open(path) as f:
        lines = f.read().splitlines()
    body = lines.index("$enddefinitions $end") + 1
    for line in lines[body:]:
        if line.startswith("#"):
            time = int(line[1:])
        elif line and line[0] in "01":
            events.append((time, line[1:], line[0]))
    return lines[:body], events


def write_vcd(path, header, events):
    out, last = list(header), None
    for time, signal, value in sorted(events, key=lambda e: e[0]):
        if time != last:
            out.append("#%d" % time)
            last = time
        out.append(value + signal)
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def rises(events, signal):
    return [t for t, s, v in events if s == signal and v == "1"]


def damage_edge(path):
    """Every bit to the part changes just after the rising edge that should take it."""
    header, events = read_vcd(path)
    clock_rises = rises(events, CLOCK)
    moved = []
    for time, signal, value in events:
        if signal == DATA_IN:
            later = [t for t in clock_rises if t > time]
            time = later[0] + 1 if later else time
        moved.append((time, signal, value))
    write_vcd(path, header, moved)


def damage_select(path):
    """Chip select rises one byte early at the end of the first page or byte program."""
    header, events = read_vcd(path)
    falls = [t for t, s, v in events if s == SELECT and v == "0"]
    ends = rises(events, SELECT)
    clock_rises = rises(events, CLOCK)
    for start, end in zip(falls, [e for e in ends if e > falls[0]]):
        inside = [t for t in clock_rises if start < t < end]
        if len(inside) >= 40:
            cut = inside[-8] - 1
            events = [(cut, s, v) if (t, s, v) == (end, SELECT, "1") else (t, s, v)
                      for t, s, v in events]
            break
    write_vcd(path, header, events)


DAMAGES = {"edge": damage_edge, "select": damage_select}


def prepare(emulator, workdir):
    os.makedirs(workdir, exist_ok=True)
    subprocess.run([emulator, "--save-sample-bios", "new.bin"], cwd=workdir, check=True)
    # The card's own BIOS: what an image file starts with when the emulator creates it.
    subprocess.run([emulator, "--card", "100,image=card-before.bin", "/scan"], cwd=workdir,
                   capture_output=True)


def check_one(emulator, workdir, part_name):
    """True or False, what was seen, and the card's content after the update."""
    prepare(emulator, workdir)
    try:
        programs, after, names = check_part(emulator, workdir, part_name)
    except Mismatch as failure:
        return False, "%s: %s" % (part_name, failure), None
    return True, "%s: identification, read, status writes, erase, %d programs, protection, " \
                 "write protection and bypass: as decoded; the flash decoder named %s" % \
                 (part_name, programs, ", ".join(sorted(names))), after


def refused(workdir, part_name, after, damage):
    """The part's programming window, damaged, decoded and checked again: the reason it was
    refused, or None."""
    damaged = window_path(workdir, part_name, "program-" + damage)
    shutil.copy(window_path(workdir, part_name, "program"), damaged)
    DAMAGES[damage](damaged)
    try:
        check_program_window(PARTS[part_name], damaged, after)
    except Mismatch as failure:
        return str(failure)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--break", dest="damage", choices=sorted(DAMAGES))
    options = parser.parse_args()
    emulator = os.path.abspath(os.path.join(options.build, "bin", "tvrbios-emu"))
    if shutil.which("sigrok-cli") is None:
        sys.exit("wire check: sigrok-cli is missing (tools/setup.sh installs it)")
    with tempfile.TemporaryDirectory() as top:
        if options.damage:
            return show_damage(emulator, top, options.damage)
        with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 1) as pool:
            results = list(pool.map(
                lambda name: check_one(emulator, os.path.join(top, name), name), PARTS))
        for ok, text, _ in results:
            print("wire check: %s%s" % ("" if ok else "FAILED: ", text))
        if not all(ok for ok, _, _ in results):
            return 1
        # The check itself must see a damaged trace: one part's window, damaged each way.
        part_name, after = next(iter(PARTS)), results[0][2]
        for damage in sorted(DAMAGES):
            reason = refused(os.path.join(top, part_name), part_name, after, damage)
            print("wire check: %s, %s damaged: %s" %
                  (part_name, damage, "refused: " + reason if reason else "NOT refused"))
            if reason is None:
                return 1
    return 0


def show_damage(emulator, top, damage):
    """The first part checked, then its programming window damaged: fails with the reason."""
    part_name = next(iter(PARTS))
    ok, text, after = check_one(emulator, top, part_name)
    print("wire check: %s" % text)
    if ok:
        reason = refused(top, part_name, after, damage)
        print("wire check: %s, %s damaged: %s" % (part_name, damage, reason or "NOT refused"))
    return 1


if __name__ == "__main__":
    sys.exit(main())
