// A part on the card's serial lines as the card drives it: pin events in, the level of
// data-out back. The card's own flash part is one; a test may put a scripted one in its
// place.
#pragma once

namespace emu {

class SpiDevice {
 public:
  virtual void Select() = 0;    // chip select falls
  virtual void Deselect() = 0;  // chip select rises
  virtual void ClockRise(bool dataIn) = 0;
  virtual void ClockFall() = 0;
  // Level of data-out; 1 when the part does not drive it.
  virtual bool DataOut() const = 0;
  // The write-protect pin.
  virtual void SetWriteProtectPin(bool high) = 0;

 protected:
  ~SpiDevice() = default;
};

}  // namespace emu
