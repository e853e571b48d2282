#include "Builder.h"

#include <ctime>

#include "FileStores.h"
#include "SampleBios.h"
#include "Vcd.h"

namespace emu {
namespace {

std::tm Today() {
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  return today;
}

std::unique_ptr<FlashStore> CardFlash(const FrontEndCard& card) {
  SampleBiosOptions sample;
  sample.deviceId = card.options.deviceId;
  const std::vector<std::uint8_t> image = BuildSampleBios(sample);
  if (card.imageFile.empty()) {
    return FlashStore::InMemory(image);
  }
  return MapFlashFile(card.imageFile, image);
}

std::unique_ptr<StateStore> CardStateStore(const FrontEndCard& card) {
  if (card.stateFile.empty()) {
    return nullptr;
  }
  return MapStateFile(card.stateFile, PowerUpState(card.options));
}

}  // namespace

Card& PlaceCard(Machine& machine, std::uint32_t location, const CardOptions& options,
                std::unique_ptr<FlashStore> flash, std::unique_ptr<StateStore> state) {
  return machine.Emplace<Card>((location >> 8) & 0xFF, (location >> 3) & 0x1F, location & 0x7,
                               machine.Clock(), options, std::move(flash), std::move(state));
}

BuiltMachine BuildMachine(const FrontEndOptions& options) {
  BuiltMachine built{std::make_unique<Machine>(options.costs), {}};
  Machine& machine = *built.machine;
  machine.SetUserId(options.uid);
  for (std::size_t request = 0; request < kRequestCount; ++request) {
    machine.Refuse(static_cast<Request>(request), options.refusals[request]);
  }
  machine.SetLocalTime(options.date ? *options.date : Today());
  std::uint32_t index = 0;
  for (const FrontEndCard& card : options.cards) {
    CardOptions cardOptions = card.options;
    cardOptions.apertureBase = kFirstAperture + index++ * kApertureStride;
    built.cards[card.location] =
        &PlaceCard(machine, card.location, cardOptions, CardFlash(card), CardStateStore(card));
  }
  for (const FrontEndTrace& trace : options.traces) {
    Card& card = *built.cards.at(trace.location.value_or(options.cards.front().location));
    card.AddLineObserver(
        std::make_unique<VcdRecorder>(machine.Clock(), trace.file, trace.window, card.Levels()));
  }
  return built;
}

}  // namespace emu
