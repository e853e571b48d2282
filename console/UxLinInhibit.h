// Sleep and shutdown held off while the card is held. A machine that suspends, powers off
// or answers its lid in the middle of an erase or programming leaves a card that does not
// start; logind keeps from that every program that holds one of its inhibitor locks. The
// lock is a courtesy of the system, never a condition of the run: without a system bus or
// logind, or when logind refuses, the run goes on exactly as it would have.
#pragma once

class SleepInhibitor {
 public:
  // Asks logind for a "block" lock on sleep, shutdown, idleness and the power, suspend,
  // hibernate and lid keys.
  SleepInhibitor();
  // Closes the lock's descriptor, which is what ends the lock.
  ~SleepInhibitor();
  SleepInhibitor(const SleepInhibitor&) = delete;
  SleepInhibitor& operator=(const SleepInhibitor&) = delete;

 private:
  int m_lock = -1;
};
