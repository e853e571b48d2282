#!/usr/bin/env python3
"""The shipped program on a real Linux kernel and a PC this project did not write.

Boots Debian's kernel under QEMU (TCG, one processor, no network) from an initramfs that
holds busybox, the 64-bit and the 32-bit tvrbios as the package installs them (stripped,
in /usr/sbin, with the shared libraries ldd names) and the hardware-library probe. The
guest's init runs every case, each bounded in time, and prints its standard output,
standard error (base64) and exit status on the serial console; this script compares them
byte for byte with what the program must print on a PC without a Tavrin card:

  - as root, /scan and /ds: the banner, then the message about missing hardware, status 0;
  - as another user: the root message, status 0;
  - with lockdown=integrity on the kernel's command line (a second boot, beside the first):
    the refused port access first, then the message about missing hardware, status 0;
  - tvr-outside-probe (both builds) must pass: the configuration space of every function on
    bus 0 through the library's byte, word and dword reads against the kernel's copy,
    tmDelay against the monotonic clock, port 0x61 and channel 2 of the interval timer.

Then the same probe runs on the emulated machine built like QEMU's bus 0
(tvr-outside-probe-emu) and the two are held side by side: the same configuration words,
the same counts, the same use of port 0x61.

Usage: tools/outside-pc-check.py BUILD_DIR BUILD32_DIR
"""
import base64
import collections
import concurrent.futures
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

BANNER = ("\nTavrin BIOS update utility - Version 1.65\n"
          "Copyright (c) Tavrin. All rights reserved.\n\n")
NO_HARDWARE = ("ERROR! No Tavrin graphics hardware supported by this\n"
               "       software was detected in your system.\n\n")
NOT_ROOT = "\nError! You need root access to run this application.\n\n\n"
PORTS_REFUSED = "ERROR! Access to the I/O ports was refused: Operation not permitted.\n\n"

# Where each build's programs go in the guest: the 32-bit package under /i386.
PREFIXES = {"64-bit": "/", "32-bit": "/i386/"}
PROGRAM = "usr/sbin/tvrbios"
PROBE = "probe/tvr-outside-probe"
USER_ID = 1000

# The second boot differs by its kernel command line only.
BOOTS = {"plain": "", "lockdown": "lockdown=integrity"}
KERNEL_LINE = "console=ttyS0 quiet loglevel=0 panic=-1"
BOOT_SECONDS = 90
CASE_SECONDS = 30

Case = collections.namedtuple("Case", "boot name command expected")


def cases():
    """Every case; `expected` is (stdout, stderr, status), None for a probe, which judges
    itself."""
    found = []
    for build, prefix in PREFIXES.items():
        program = prefix + PROGRAM
        for switch in ("/scan", "/ds"):
            found += [
                Case("plain", f"{build}-root-{switch[1:]}", f"{program} {switch}",
                     (BANNER, NO_HARDWARE, 0)),
                Case("plain", f"{build}-user-{switch[1:]}",
                     f"su -s /bin/sh tester -c '{program} {switch}'", (NOT_ROOT, "", 0)),
                Case("lockdown", f"{build}-root-{switch[1:]}", f"{program} {switch}",
                     (BANNER, PORTS_REFUSED + NO_HARDWARE, 0))]
    found += [Case("plain", f"{build}-probe", prefix + PROBE, None)
              for build, prefix in PREFIXES.items()]
    return found


def init_script(all_cases):
    """The guest's /init: the file systems, the cases of this boot with their results on the
    console, then an immediate reboot, which ends QEMU (-no-reboot)."""
    lines = ["#!/bin/busybox sh",
             "/bin/busybox --install -s /bin",
             "export PATH=/bin",
             "mount -t proc proc /proc",
             "mount -t sysfs sysfs /sys",
             "mount -t devtmpfs devtmpfs /dev",
             "mount -t securityfs securityfs /sys/kernel/security",
             "mkdir -p /tmp",
             "boot=plain",
             "grep -q lockdown= /proc/cmdline && boot=lockdown",
             'echo "@@lockdown $(cat /sys/kernel/security/lockdown)"',
             "run() {",
             '  [ "$1" = "$boot" ] || return 0',
             f'  timeout {CASE_SECONDS} sh -c "$3" > /tmp/out 2> /tmp/err < /dev/null',
             '  echo "@@case $1 $2 $? $(base64 -w0 /tmp/out)- $(base64 -w0 /tmp/err)-"',
             "}"]
    lines += [f'run {case.boot} {case.name} "{case.command}"' for case in all_cases]
    lines += ["echo @@done", "reboot -f"]
    return "\n".join(lines) + "\n"


def copy_into(root, source, target):
    destination = os.path.join(root, target.lstrip("/"))
    os.makedirs(os.path.dirname(destination), exist_ok=True)
    shutil.copy2(os.path.realpath(source), destination)
    return destination


def loaded_libraries(program):
    """What the dynamic loader lists for the program, as ldd shows it. ldd runs the program's
    own loader, which a kernel without 32-bit support cannot run: a 32-bit program's loader then
    lists them under qemu-i386."""
    listing = subprocess.run(["ldd", program], capture_output=True, text=True)
    facts = os.path.join(os.path.dirname(os.path.abspath(__file__)), "machine-facts.sh")
    if listing.returncode != 0 and subprocess.run([facts, "runs-32-bit"]).returncode != 0:
        listing = subprocess.run(["qemu-i386", "-E", "LD_TRACE_LOADED_OBJECTS=1", program],
                                 capture_output=True, text=True)
    listing.check_returncode()
    return listing.stdout


def install_program(root, source, target, strip):
    """A program where the package puts it (stripped, as CPack strips it), and every library
    ldd names at the path the dynamic loader looks it up by."""
    destination = copy_into(root, source, target)
    if strip:
        subprocess.run(["strip", destination], check=True)
    for library in re.findall(r"(/\S+) \(0x", loaded_libraries(destination)):
        copy_into(root, library, library)


def build_initramfs(work, builds, all_cases):
    root = os.path.join(work, "root")
    for folder in ("bin", "proc", "sys", "dev", "etc"):
        os.makedirs(os.path.join(root, folder))
    shutil.copy2("/bin/busybox", os.path.join(root, "bin", "busybox"))
    for build, folder in builds.items():
        prefix = PREFIXES[build]
        install_program(root, os.path.join(folder, "bin", "tvrbios"), prefix + PROGRAM, True)
        install_program(root, os.path.join(folder, "bin", "tvr-outside-probe"), prefix + PROBE,
                        False)
    files = {"etc/passwd": "root:x:0:0:root:/:/bin/sh\n"
                           f"tester:x:{USER_ID}:{USER_ID}:tester:/:/bin/sh\n",
             "etc/group": f"root:x:0:\ntester:x:{USER_ID}:\n",
             "init": init_script(all_cases)}
    for name, text in files.items():
        with open(os.path.join(root, name), "w") as out:
            out.write(text)
    os.chmod(os.path.join(root, "init"), 0o755)
    names = subprocess.run(["find", "."], cwd=root, capture_output=True, check=True).stdout
    archive = os.path.join(work, "initramfs.cpio")
    with open(archive, "wb") as out:
        subprocess.run(["busybox", "cpio", "-o", "-H", "newc", "-R", "0:0"], cwd=root,
                       input=names, stdout=out, stderr=subprocess.DEVNULL, check=True)
    return archive


def newest_kernel():
    kernels = glob.glob("/boot/vmlinuz-*-amd64")
    if not kernels:
        sys.exit("outside-pc check: no /boot/vmlinuz-*-amd64 (tools/setup.sh installs "
                 "linux-image-amd64)")
    return max(kernels, key=lambda path: [int(n) for n in re.findall(r"\d+", path)])


def boot(kernel, initramfs, kernel_line):
    """The console output of one boot; None when it did not end in time."""
    command = ["qemu-system-x86_64", "-accel", "tcg", "-m", "256", "-nic", "none",
               "-kernel", kernel, "-initrd", initramfs,
               "-append", f"{KERNEL_LINE} {kernel_line}".strip(), "-nographic", "-no-reboot"]
    try:
        run = subprocess.run(command, capture_output=True, timeout=BOOT_SECONDS,
                             stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired as expired:
        print((expired.stdout or b"").decode("latin-1"))
        return None
    return run.stdout.decode("latin-1")


def results_of(console):
    """(boot, name) -> (stdout, stderr, status), and the kernel's lockdown line."""
    results, lockdown = {}, ""
    for line in console.splitlines():
        # The firmware's screen controls may run into the first line.
        fields = line[line.find("@@"):].split()
        if fields[:1] == ["@@case"] and len(fields) == 6:
            results[(fields[1], fields[2])] = (
                base64.b64decode(fields[4][:-1]).decode("latin-1"),
                base64.b64decode(fields[5][:-1]).decode("latin-1"), int(fields[3]))
        elif fields[:1] == ["@@lockdown"]:
            lockdown = " ".join(fields[1:])
    return results, lockdown


def indent(text):
    return "\n".join("    " + line for line in text.rstrip("\n").splitlines())


def judge(case, got):
    """Prints the case's outcome; 1 when it failed."""
    if case.expected is None:
        print(f"tvr-outside-probe, {case.name[:-6]}, on QEMU's PC: "
              f"status {got[2] if got else 'none'}")
        print(indent(got[0] + got[1] if got else ""))
        return 0 if got and got[2] == 0 else 1
    if got == case.expected:
        print(f"  ok    {case.boot:8} {case.name}: status {got[2]}, "
              f"{len(got[0])} + {len(got[1])} bytes as expected")
        return 0
    print(f"  FAIL  {case.boot:8} {case.name}\n        expected {case.expected!r}\n"
          f"        got      {got!r}")
    return 1


def table_rows(report):
    return {fields[0]: fields[1:] for fields in map(str.split, report.splitlines())
            if fields and fields[0].startswith("tmDelay(")}


def port_lines(report):
    return [line for line in report.splitlines() if line.startswith("port 0x61 in ")]


def first_read(line):
    return int(re.search(r": read 0x([0-9A-F]{2})", line).group(1), 16)


def port_b_compared(line):
    """What both machines must agree on in a wait's use of port 0x61: every value written;
    of the first read the bits the library keeps (0-3); of the last poll those and the
    output of channel 2 (bit 5), which ends the wait. Bit 4 (QEMU's refresh toggle, which the
    emulator does not model) and the number of polls are the machine's own."""
    line = re.sub(r"polled \d+x", "polled", line.split(": ", 1)[1])
    line = re.sub(r"read 0x([0-9A-F]{2})",
                  lambda m: f"read 0x{int(m.group(1), 16) & 0x0F:02X}", line)
    return re.sub(r"last 0x([0-9A-F]{2})",
                  lambda m: f"last 0x{int(m.group(1), 16) & 0x2F:02X}", line)


def side_by_side(qemu, emulated):
    """The counts each wait loaded and its use of port 0x61 must agree; the rest is shown."""
    failures = 0
    print(f"  {'wait':16} {'counts, QEMU / emulator':^29}      "
          f"{'took us, QEMU shortest / median':^31}  emulator")
    emu_rows = table_rows(emulated)
    for wait, row in table_rows(qemu).items():
        other = emu_rows.get(wait, ["?"] * 6)
        same = row[0] == other[0]
        failures += 0 if same else 1
        print(f"  {wait:16} {row[0]:>13} / {other[0]:<13} {'same' if same else 'DIFFERENT':9}"
              f" {row[2]:>12} / {row[3]:<12} {other[3]:>9}")
    output_bit_differs = False
    for qemu_line, emu_line in zip(port_lines(qemu), port_lines(emulated)):
        same = port_b_compared(qemu_line) == port_b_compared(emu_line)
        failures += 0 if same else 1
        output_bit_differs |= (first_read(qemu_line) ^ first_read(emu_line)) & 0x20 != 0
        print(f"  QEMU:     {qemu_line}\n  emulator: {emu_line.split(': ', 1)[1]}"
              f"  -> {'same in bits 0-3 and the last output' if same else 'DIFFERENT'}")
    print("  the machines' own: QEMU toggles bit 4 of port 0x61 (refresh), the emulator does not;")
    if output_bit_differs:
        print("  bit 5 of tmDelay's first read of port 0x61, just after its mode 0 control word:"
              " an 8254\n  drops its output there, as the emulator does; QEMU leaves it as the"
              " count loaded before left it\n  (tmDelay keeps only bits 0-3 of that read);")
    if "not judged" in emulated:
        print("  the emulator has no read-back command; QEMU answers it as an 8254 does but for"
              " the null-count\n  bit: 0 where an 8254 shows 1, no count having been written"
              " since the last control word.")
    return failures


def run_emulated(build, qemu, work):
    """The probe on the emulated machine built like the one of the QEMU report."""
    report = os.path.join(work, "qemu-probe.txt")
    with open(report, "w") as out:
        out.write(qemu)
    run = subprocess.run([os.path.join(build, "bin", "tvr-outside-probe-emu"), report],
                         capture_output=True, text=True, timeout=CASE_SECONDS)
    print(indent(run.stdout + run.stderr))
    if run.returncode != 0:
        print(f"  FAIL  the probe on the emulated machine: status {run.returncode}")
        return 1
    return side_by_side(qemu, run.stdout)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: outside-pc-check.py BUILD_DIR BUILD32_DIR")
    started = time.monotonic()
    builds = {"64-bit": sys.argv[1], "32-bit": sys.argv[2]}
    all_cases = cases()
    kernel = newest_kernel()
    with tempfile.TemporaryDirectory() as work:
        initramfs = build_initramfs(work, builds, all_cases)
        # One boot a processor.
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(BOOTS)) as pool:
            consoles = {name: pool.submit(boot, kernel, initramfs, line)
                        for name, line in BOOTS.items()}
            consoles = {name: future.result() for name, future in consoles.items()}
        results, lockdown = {}, {}
        for name, console in consoles.items():
            if console is None or "@@done" not in console:
                print(f"FAIL  the {name} boot did not end within {BOOT_SECONDS} s")
                return 1
            boot_results, lockdown[name] = results_of(console)
            results.update(boot_results)
        print(f"{os.path.basename(kernel)} under QEMU (TCG), lockdown "
              + ", ".join(f"{name}: {state}" for name, state in lockdown.items()))
        print("the shipped program, no Tavrin card:")
        failures = sum(judge(case, results.get((case.boot, case.name)))
                       for case in all_cases)
        print("the same probe on the emulated machine built like QEMU's bus 0:")
        qemu_report = results.get(("plain", "64-bit-probe"), ("", "", 1))[0]
        failures += run_emulated(builds["64-bit"], qemu_report, work)
    print(f"outside-pc check: {'passed' if failures == 0 else f'{failures} FAILED'} "
          f"in {time.monotonic() - started:.1f} s")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
