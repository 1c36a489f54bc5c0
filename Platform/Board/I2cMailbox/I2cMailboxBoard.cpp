// Assembly of the I2C and management-processor area from settings.
#include "I2cMailboxBoard.h"

#include <stdexcept>

namespace host {

namespace {

constexpr uint8_t kEepromAddress = 0x53;

std::optional<unsigned long long> Number(const std::string &Text) {
  if (Text.empty()) {
    return std::nullopt;
  }
  size_t Used = 0;
  try {
    unsigned long long Value = std::stoull(Text, &Used, 0);
    return Used == Text.size() ? std::optional(Value) : std::nullopt;
  } catch (const std::exception &) {
    return std::nullopt;
  }
}

// A controller knob names the controller it applies to, or both when it has no value.
bool Applies(const std::string &Value, const std::string &Controller) {
  return Value.empty() || Value == Controller;
}

void ApplyFaults(I2cMailboxModels &Models, const std::map<std::string, std::string> &Faults) {
  for (const auto &[Knob, Value] : Faults) {
    if (Knob == "mailbox-no-ack") {
      Models.Mailbox->Fault().NoAck = true;
    } else if (Knob == "mailbox-no-reply") {
      Models.Mailbox->Fault().NoReply = true;
    } else if (Knob == "eeprom-nack") {
      Models.Eeprom->Fault().Nack = true;
    } else if (Knob == "eeprom-read-fails") {
      auto After = Value.empty() ? std::optional(3ull) : Number(Value);
      if (!After) {
        throw std::invalid_argument("eeprom-read-fails needs a byte count");
      }
      Models.Eeprom->Fault().ReadFailsAt = unsigned(*After);
    } else if (Knob == "i2c-stuck-busy" || Knob == "i2c-never-enables") {
      if (!Applies(Value, "i2c0") && !Applies(Value, "i2c1")) {
        throw std::invalid_argument(Knob + " takes i2c0 or i2c1");
      }
      for (auto [Controller, Name] : {std::pair{Models.I2c0, "i2c0"}, std::pair{Models.I2c1, "i2c1"}}) {
        if (Applies(Value, Name)) {
          (Knob == "i2c-stuck-busy" ? Controller->Fault().StuckBusy : Controller->Fault().NeverEnables) =
              true;
        }
      }
    } else {
      throw std::invalid_argument("unknown fault " + Knob);
    }
  }
}

} // namespace

const std::vector<I2cMailboxRegion> &I2cMailboxRegions() {
  static const std::vector<I2cMailboxRegion> Regions = {
      {"i2c1", 0x10511000, I2cController::kBlockSize},
      {"i2c0", 0x10512000, I2cController::kBlockSize},
      {"mailbox", 0x10540000, ManagementProcessor::kSize},
      {"pelmo-status", 0x17000000, StatusRegion::kSize},
  };
  return Regions;
}

const std::vector<I2cMailboxKnob> &I2cMailboxFaultKnobs() {
  static const std::vector<I2cMailboxKnob> Knobs = {
      {"mailbox-no-ack", "", "the management processor acknowledges (and acts on) no message"},
      {"mailbox-no-reply", "", "the management processor answers no query or file load"},
      {"eeprom-nack", "", "the EEPROM acknowledges nothing"},
      {"eeprom-read-fails", "[BYTES]", "an EEPROM read stops after BYTES bytes (default 3)"},
      {"i2c-stuck-busy", "[i2c0|i2c1]", "the controller reports master activity for ever"},
      {"i2c-never-enables", "[i2c0|i2c1]", "the controller never reports itself enabled"},
  };
  return Knobs;
}

bool ParseStatusWords(const std::string &Text, std::map<uint64_t, uint32_t> &Words) {
  for (size_t Start = 0; Start < Text.size();) {
    size_t End = Text.find(',', Start);
    End = End == std::string::npos ? Text.size() : End;
    const std::string Entry = Text.substr(Start, End - Start);
    const size_t Equals = Entry.find('=');
    auto Offset = Number(Entry.substr(0, Equals));
    auto Value = Equals == std::string::npos ? std::nullopt : Number(Entry.substr(Equals + 1));
    if (!Offset || !Value || *Offset >= StatusRegion::kSize || *Value > 0xFFFFFFFFull) {
      return false;
    }
    Words[*Offset] = uint32_t(*Value);
    Start = End + 1;
  }
  return true;
}

I2cMailboxModels AttachI2cMailbox(Platform &Board, const I2cMailboxSettings &Settings) {
  I2cMailboxModels Models;
  Models.Bus0 = std::make_shared<I2cBus>();
  Models.Bus1 = std::make_shared<I2cBus>();
  Models.I2c0 = std::make_shared<I2cController>("i2c0", Models.Bus0, Settings.RxDepth, Settings.TxDepth);
  Models.I2c1 = std::make_shared<I2cController>("i2c1", Models.Bus1, Settings.RxDepth, Settings.TxDepth);
  Models.Eeprom = std::make_shared<I2cEeprom>(Settings.EepromImage);
  Models.Bus1->AddTarget(kEepromAddress, Models.Eeprom);
  Models.Status = std::make_shared<StatusRegion>();
  for (const auto &[Offset, Value] : Settings.StatusWords) {
    Models.Status->SetWord(Offset, Value);
  }
  Models.Mailbox = std::make_shared<ManagementProcessor>(Models.Bus1, Models.Status);
  ApplyFaults(Models, Settings.Faults);

  const std::map<std::string, std::shared_ptr<MmioDevice>> ByName = {{"i2c0", Models.I2c0},
                                                                     {"i2c1", Models.I2c1},
                                                                     {"mailbox", Models.Mailbox},
                                                                     {"pelmo-status", Models.Status}};
  for (const I2cMailboxRegion &Region : I2cMailboxRegions()) {
    Board.Attach(Region.Base, Region.Size, ByName.at(Region.Name));
  }
  return Models;
}

} // namespace host
