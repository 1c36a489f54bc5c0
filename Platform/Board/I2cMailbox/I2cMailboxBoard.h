// The board's I2C and management-processor area: the two I2C master controllers (bus 0 and
// bus 1), the EEPROM at 0x53 on bus 1 with its image file, and the mailbox with the
// management processor, which shares bus 1, and its status region.
#pragma once

#include "I2cController.h"
#include "I2cEeprom.h"
#include "ManagementProcessor.h"
#include "StatusRegion.h"

#include <HostPlatform.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace host {

struct I2cMailboxRegion {
  std::string Name;
  uint64_t Base, Size;
};

// The SoC map rows of the area.
const std::vector<I2cMailboxRegion> &I2cMailboxRegions();

struct I2cMailboxSettings {
  std::filesystem::path EepromImage;         // empty: the EEPROM lives in memory only
  std::map<std::string, std::string> Faults; // knob -> value ("" for a plain switch)
  std::map<uint64_t, uint32_t> StatusWords;  // status-region words that differ from the defaults
  unsigned RxDepth = 16;
  unsigned TxDepth = 16;
};

// Fault knobs of the area, with their help texts.
struct I2cMailboxKnob {
  std::string Name, Argument, Help;
};
const std::vector<I2cMailboxKnob> &I2cMailboxFaultKnobs();

struct I2cMailboxModels {
  std::shared_ptr<I2cBus> Bus0, Bus1;
  std::shared_ptr<I2cController> I2c0, I2c1;
  std::shared_ptr<I2cEeprom> Eeprom;
  std::shared_ptr<StatusRegion> Status;
  std::shared_ptr<ManagementProcessor> Mailbox;
};

// Creates the models with the settings' faults applied and attaches them at their regions.
// Throws std::invalid_argument for an unknown knob or a bad knob value.
I2cMailboxModels AttachI2cMailbox(Platform &Board, const I2cMailboxSettings &Settings);

// Parses "OFFSET=VALUE[,OFFSET=VALUE...]" into status words; false on a malformed entry.
bool ParseStatusWords(const std::string &Text, std::map<uint64_t, uint32_t> &Words);

} // namespace host
