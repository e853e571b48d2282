// Microsecond busy-wait on channel 2 of the PC interval timer, whose output shows in bit 5
// of system control port B (0x61).
#pragma once

#include "TvrLib.h"

// The control word written to port 0x43.
union TIMER_CTRL {
  BYTE fullreg;
  struct {
    BYTE CountDownSelect : 1;  // 0 binary, 1 BCD
    BYTE CounterMode : 3;      // the counter's mode number
    BYTE RW_Select : 2;        // 3: low byte, then high byte
    BYTE CounterSelect : 2;    // the channel
  } f;
};
static_assert(sizeof(TIMER_CTRL) == 1, "the control word is one byte");

// Waits dwDelayus microseconds; returns 1. Leaves channel 2 in mode 3 and bits 0-3 of
// port 0x61 as they were.
DWORD tmDelay(DWORD dwDelayus);
// One period: loads byCountValue into channel 2 (mode 0) and polls its output until it
// rises, twice the count's time has passed on the monotonic clock, or the poll limit runs
// out; returns 1.
DWORD Timer2Delay(WORD byCountValue);
