// The EEPROM MAC driver on the board's models: records into slots, repairs written back,
// every EEPROM access bracketed by the hand-over (the models check it), faults that leave the
// EEPROM alone.
#include "ScratchFiles.h"
#include "VaultcellBench.h"

#include <VariableStore.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace vaultcell_test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr unsigned kRecordSlots[] = {1, 2, 5, 6};
const Table kMarked = {"N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A", "N/A"};

Bytes Record(const Bench &B, unsigned Record) {
  auto Start = const_cast<Bench &>(B).Eeprom().Contents().begin() + Record * 6;
  return Bytes(Start, Start + 6);
}

// Usable records are served as they are; a group, erased or all-zero record is replaced by the
// slot's placeholder in the table and in the EEPROM. Slots without a record keep the caller's
// text, and the protocol answers EFI_SUCCESS.
TEST(Vaultcell, RecordsAreServedAndRepaired) {
  struct Case {
    Bytes Stored;
    std::string Slot;
    bool Repaired;
  } Cases[] = {
      {{0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C}, "00:1b:21:0a:0b:0c", false},
      {{0x01, 0x1B, 0x21, 0x0A, 0x0B, 0x0C}, "", true},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "", true},
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "", true},
  };
  // Each case in each record position: case n goes to record (n + shift) % 4.
  for (unsigned Shift = 0; Shift < 4; Shift++) {
    SCOPED_TRACE(Shift);
    Bench B;
    for (unsigned Index = 0; Index < 4; Index++) {
      B.SetRecord((Index + Shift) % 4, Cases[Index].Stored);
    }
    Table Out;
    EXPECT_EQ(B.GetMacAddresses(kMarked, Out), EFI_SUCCESS);
    for (unsigned Index = 0; Index < 4; Index++) {
      const unsigned RecordNumber = (Index + Shift) % 4;
      const unsigned Slot = kRecordSlots[RecordNumber];
      const Case &Test = Cases[Index];
      EXPECT_EQ(Out[Slot], Test.Repaired ? Placeholder(Slot) : Test.Slot);
      EXPECT_EQ(Record(B, RecordNumber), Test.Repaired ? PlaceholderBytes(Slot) : Test.Stored);
    }
    for (unsigned Slot : {0, 3, 4, 7, 8}) {
      EXPECT_EQ(Out[Slot], "N/A");
    }
    // Three records byte by byte, the all-zero one first made unusable.
    EXPECT_EQ(B.Eeprom().WriteCycles(), 3u * 6u + 1u);
    // Four reads and three writes, each between its own pair of hand-over messages.
    std::vector<uint32_t> Words;
    for (const auto &Message : B.Mailbox().Messages()) {
      Words.push_back(Message.Word);
    }
    std::vector<uint32_t> Expected;
    for (unsigned Access = 0; Access < 7; Access++) {
      Expected.insert(Expected.end(), {0x0E000002, 0x0E000001});
    }
    EXPECT_EQ(Words, Expected);
  }
}

// An erased EEPROM is programmed with the placeholders once; the next call reads them back
// and writes nothing.
TEST(Vaultcell, ErasedEepromIsProgrammedOnce) {
  Bench B;
  Table First, Second;
  B.GetMacAddresses(kMarked, First);
  const unsigned Cycles = B.Eeprom().WriteCycles();
  B.GetMacAddresses(kMarked, Second);
  EXPECT_EQ(Second, First);
  EXPECT_EQ(B.Eeprom().WriteCycles(), Cycles);
  for (unsigned RecordNumber = 0; RecordNumber < 4; RecordNumber++) {
    EXPECT_EQ(First[kRecordSlots[RecordNumber]], Placeholder(kRecordSlots[RecordNumber]));
    EXPECT_EQ(Record(B, RecordNumber), PlaceholderBytes(kRecordSlots[RecordNumber]));
  }
}

// When the EEPROM cannot be read, the slots show placeholders, the call still succeeds, and
// not one byte of the EEPROM changes: a bus error never overwrites a board's address.
TEST(Vaultcell, FailedReadsLeaveTheEepromAlone) {
  struct Case {
    std::string Fault;
    std::vector<std::string> Expected; // protocol errors the fault causes
  } Cases[] = {
      {"eeprom-nack", {}},     {"eeprom-read-fails", {}}, {"i2c1-never-enables", {}},
      {"i2c1-stuck-busy", {}}, {"mailbox-no-ack", {}}, // the bus is not ours: no access at all
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Fault);
    Bench B({}, {{Test.Fault, ""}});
    const Bytes Valid = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C};
    for (unsigned RecordNumber = 0; RecordNumber < 4; RecordNumber++) {
      B.SetRecord(RecordNumber, Valid);
    }
    const Bytes Before = B.Eeprom().Contents();
    Table Out;
    EXPECT_EQ(B.GetMacAddresses(kMarked, Out), EFI_SUCCESS);
    for (unsigned Slot : kRecordSlots) {
      EXPECT_EQ(Out[Slot], Placeholder(Slot));
    }
    EXPECT_EQ(B.GetMacAddresses(nullptr), EFI_INVALID_PARAMETER); // no table to fill
    EXPECT_EQ(B.Eeprom().Contents(), Before);
    B.ExpectErrors(Test.Expected);
  }
}

// Whatever the acquire's acknowledge does (on time, late, never), every acquire is followed by a
// release and the management processor has its bus after each call; the EEPROM is touched only
// after an acknowledged acquire (the bus model checks that), so the real address stays.
TEST(Vaultcell, ProcessorAlwaysGetsItsBusBack) {
  const Bytes Valid = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C};
  struct Case {
    std::string Knob, Value;
    bool Served; // every record read
  } Cases[] = {{"mailbox-ack-delay-us", "900", true},
               {"mailbox-ack-delay-us", "1500", false},
               {"mailbox-no-ack", "", false}};
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Knob + "=" + Test.Value);
    Bench B({}, {{Test.Knob, Test.Value}});
    for (unsigned RecordNumber = 0; RecordNumber < 4; RecordNumber++) {
      B.SetRecord(RecordNumber, Valid);
    }
    const Bytes Before = B.Eeprom().Contents();
    for (unsigned Call = 0; Call < 2; Call++) {
      Table Out;
      EXPECT_EQ(B.GetMacAddresses(kMarked, Out), EFI_SUCCESS);
      for (unsigned Slot : kRecordSlots) {
        EXPECT_TRUE(Out[Slot] == "00:1b:21:0a:0b:0c" || (!Test.Served && Out[Slot] == Placeholder(Slot)));
      }
      EXPECT_TRUE(B.Mailbox().HoldsBus());
    }
    const auto &Messages = B.Mailbox().Messages();
    ASSERT_EQ(Messages.size(), 16u);
    for (size_t Index = 0; Index < Messages.size(); Index++) {
      EXPECT_EQ(Messages[Index].Word, Index % 2 == 0 ? 0x0E000002u : 0x0E000001u) << Index;
    }
    EXPECT_EQ(B.Eeprom().Contents(), Before);
  }
}

// A part whose write cycle outlasts the fixed stall is polled until it answers: the repair
// completes. One slower than the poll's bound fails cleanly: each record is as it was or
// unusable, never an address nobody wrote, and the slots show placeholders.
TEST(Vaultcell, RepairWaitsForTheEepromWriteCycle) {
  const Bytes Erased(6, 0xFF), Zero(6, 0x00);
  for (const auto &[CycleUs, Completes] :
       {std::pair<std::string, bool>{"3000", true}, {"5000", true}, {"10000", true}, {"30000", false}}) {
    SCOPED_TRACE(CycleUs);
    Bench B({}, {{"eeprom-write-cycle-us", CycleUs}});
    B.SetRecord(2, Zero); // the others erased
    Table Out;
    EXPECT_EQ(B.GetMacAddresses(kMarked, Out), EFI_SUCCESS);
    for (unsigned RecordNumber = 0; RecordNumber < 4; RecordNumber++) {
      const unsigned Slot = kRecordSlots[RecordNumber];
      EXPECT_EQ(Out[Slot], Placeholder(Slot));
      const Bytes Now = Record(B, RecordNumber);
      if (Completes) {
        EXPECT_EQ(Now, PlaceholderBytes(Slot)) << "record " << RecordNumber;
      } else {
        EXPECT_TRUE(Now == (RecordNumber == 2 ? Zero : Erased) || (Now[0] & 0x01) != 0)
            << "record " << RecordNumber;
      }
    }
  }
}

// A transfer left unacknowledged anywhere in a call (the bus's knob counts the processor's own
// transfers too) never leaves a record that serves an address nobody wrote: each record is as
// it was, complete, or unusable, and the next call completes it.
TEST(Vaultcell, InterruptedRepairNeverLeavesAnUnwrittenAddress) {
  const Bytes Erased(6, 0xFF), Zero(6, 0x00), Valid = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x0C};
  const std::vector<Bytes> Stored = {Valid, Erased, Zero, Erased};
  uint64_t Transfers = 0;
  for (uint64_t Nacked = 1; Transfers == 0 || Nacked <= Transfers; Nacked++) {
    SCOPED_TRACE(Nacked);
    Bench B({}, {{"i2c1-nack", std::to_string(Nacked)}});
    for (unsigned RecordNumber = 0; RecordNumber < 4; RecordNumber++) {
      B.SetRecord(RecordNumber, Stored[RecordNumber]);
    }
    Table Out, Again;
    B.GetMacAddresses(kMarked, Out);
    Transfers = B.Board().Producer<host::I2cBus>("i2c-bus1")->Transfers();
    for (unsigned RecordNumber = 0; RecordNumber < 4; RecordNumber++) {
      const Bytes Now = Record(B, RecordNumber);
      EXPECT_TRUE(Now == Stored[RecordNumber] || Now == PlaceholderBytes(kRecordSlots[RecordNumber]) ||
                  (Now[0] & 0x01) != 0)
          << "record " << RecordNumber;
    }
    B.GetMacAddresses(kMarked, Again);
    EXPECT_EQ(Again[kRecordSlots[0]], "00:1b:21:0a:0b:0c");
    for (unsigned RecordNumber = 1; RecordNumber < 4; RecordNumber++) {
      EXPECT_EQ(Record(B, RecordNumber), PlaceholderBytes(kRecordSlots[RecordNumber]));
    }
  }
}

} // namespace
} // namespace vaultcell_test

namespace {

// A process killed at each point of an image save leaves the old image or the new one.
TEST(EepromImage, KilledSaveLeavesTheOldOrTheNewImage) {
  using SavePoint = host::VariableStore::SavePoint;
  const std::pair<SavePoint, bool> Cases[] = {{SavePoint::TemporaryPartlyWritten, false},
                                              {SavePoint::TemporaryWritten, false},
                                              {SavePoint::TemporarySynced, false},
                                              {SavePoint::Renamed, true}};
  const board_test::Scratch File("eeprom-power");
  const std::vector<uint8_t> Old(host::I2cEeprom::kSize, 0x5A), New(host::I2cEeprom::kSize, 0xA5);
  for (const auto &[Point, NewContents] : Cases) {
    ASSERT_TRUE(host::I2cEeprom::SaveImage(File, Old));
    const pid_t Child = fork();
    if (Child == 0) {
      host::VariableStore::SetSaveHook([Point = Point](SavePoint Reached) {
        if (Reached == Point) {
          kill(getpid(), SIGKILL);
        }
      });
      host::I2cEeprom::SaveImage(File, New);
      _exit(0);
    }
    int Status = 0;
    waitpid(Child, &Status, 0);
    EXPECT_EQ(host::I2cEeprom::LoadImage(File), NewContents ? New : Old) << "killed at point " << int(Point);
  }
  std::filesystem::remove(File);
}

} // namespace
