#!/usr/bin/env bash
# What makes this machine slow or different for the checks, in one line: its cores, what one
# fault round trip costs (every port or register access of a program under the trap harness is
# one: a load from a page it may not touch, a SIGSEGV handler that steps over it), and whether
# its kernel runs 32-bit programs. Read it before trusting a timing.
#
#   tools/machine-facts.sh               the line
#   tools/machine-facts.sh runs-32-bit   no output; status 0 when the kernel runs 32-bit programs, else 1
#
# TVR_PRETEND_NO_32_BIT=1 makes the answer "no" on any kernel, to try on a machine that runs
# 32-bit programs what the checks do on one that does not. For testing only.
set -euo pipefail

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT

runs_32_bit() {
  [ "${TVR_PRETEND_NO_32_BIT:-0}" = 1 ] && return 1
  printf 'int main(void) { return 0; }\n' > "$probe/t.c"
  gcc -m32 "$probe/t.c" -o "$probe/t32" 2>/dev/null && "$probe/t32" 2>/dev/null || return 1
}

# Microseconds per round trip, over 20000 of them.
fault_round_trip() {
  cat > "$probe/fault.c" <<'C'
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <time.h>
#include <ucontext.h>

/* The faulting load below is "mov (%rdx), %eax": two bytes to step over. */
static void StepOver(int signal, siginfo_t *info, void *context) {
  (void)signal;
  (void)info;
  ((ucontext_t *)context)->uc_mcontext.gregs[REG_RIP] += 2;
}

int main(void) {
  enum { kRounds = 20000 };
  void *page = mmap(NULL, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  struct sigaction action = {0};
  action.sa_sigaction = StepOver;
  action.sa_flags = SA_SIGINFO;
  if (page == MAP_FAILED || sigaction(SIGSEGV, &action, NULL) != 0) return 1;
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (int round = 0; round < kRounds; ++round) {
    __asm__ volatile("mov (%%rdx), %%eax" : : "d"(page) : "eax", "memory");
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  double ns = (end.tv_sec - start.tv_sec) * 1e9 + (end.tv_nsec - start.tv_nsec);
  printf("%.1f\n", ns / kRounds / 1000.0);
  return 0;
}
C
  gcc -O2 "$probe/fault.c" -o "$probe/fault" && timeout 30 "$probe/fault"
}

case "${1:-}" in
  runs-32-bit) runs_32_bit ;;
  "")
    if runs_32_bit; then kernel="runs 32-bit programs"
    else kernel="CANNOT run 32-bit programs (the 32-bit tests go through qemu-i386)"; fi
    echo "This machine: $(nproc) cores; a fault round trip costs $(fault_round_trip || echo '?') µs" \
         "(a trapped access is one); its kernel $kernel."
    ;;
  *) echo "usage: $0 [runs-32-bit]" >&2; exit 2 ;;
esac
