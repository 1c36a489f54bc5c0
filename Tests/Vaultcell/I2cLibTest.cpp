// The I2C library against the controller and EEPROM models: transaction shapes, speeds,
// set-up, error recovery and the virtual time each transfer costs.
#include "VaultcellBench.h"

#include <gtest/gtest.h>

namespace vaultcell_test {
namespace {

constexpr UINT8 kEeprom = 0x53;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t Length, uint8_t Seed) {
  Bytes Data(Length);
  for (size_t Index = 0; Index < Length; Index++) {
    Data[Index] = uint8_t(Seed + 7 * Index);
  }
  return Data;
}

// Writes are cut at page boundaries: bytes before the first boundary and after the last whole
// page go one per transaction, whole pages in one (paced by the transmit FIFO's depth); the
// stalls cover the write cycles.
TEST(I2cLib, WritesFollowThePageBoundaries) {
  struct Case {
    UINT32 Offset;
    size_t Length;
    std::vector<size_t> Transactions; // data bytes per transaction
    uint64_t HeadStalls, PageStalls;  // 3000 us and 3100 us stalls
    std::string TxDepth;
  } Cases[] = {
      {6, 6, {1, 1, 1, 1, 1, 1}, 6, 0, "16"}, {0, 6, {1, 1, 1, 1, 1, 1}, 0, 6, "16"},
      {256, 256, {256}, 0, 1, "16"},          {254, 260, {1, 1, 256, 1, 1}, 2, 3, "16"},
      {256, 256, {256}, 0, 1, "4"},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Offset);
    Bench B({{"i2c-tx-depth", Test.TxDepth}});
    const Bytes Data = Pattern(Test.Length, uint8_t(Test.Offset));
    EFI_STATUS Status = EFI_NOT_STARTED;
    std::vector<host::I2cEeprom::Transfer> Transfers;
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
      F.PelmoI2cHandover(FALSE);
      B.Eeprom().ClearTransfers();
      Status = F.I2cWrite(kEeprom, Test.Offset, 2, Data.data(), Data.size());
      Transfers = B.Eeprom().Transfers();
      F.PelmoI2cHandover(TRUE);
    });
    EXPECT_EQ(Status, EFI_SUCCESS);
    std::vector<size_t> Shapes;
    UINT32 Offset = Test.Offset;
    for (const auto &Transfer : Transfers) {
      ASSERT_FALSE(Transfer.Read);
      ASSERT_GE(Transfer.Bytes.size(), 2u);
      if (Transfer.Bytes.size() == 2) {
        continue; // the offset alone: a poll for the end of the write cycle
      }
      EXPECT_EQ((Transfer.Bytes[0] << 8) | Transfer.Bytes[1], Offset);
      Shapes.push_back(Transfer.Bytes.size() - 2);
      Offset += UINT32(Transfer.Bytes.size() - 2);
    }
    EXPECT_EQ(Shapes, Test.Transactions);
    EXPECT_EQ(Bytes(B.Eeprom().Contents().begin() + Test.Offset,
                    B.Eeprom().Contents().begin() + Test.Offset + Test.Length),
              Data);
    EXPECT_EQ(B.ProbeAccount().StallsByUs[3000], Test.HeadStalls);
    EXPECT_EQ(B.ProbeAccount().StallsByUs[3100], Test.PageStalls);
  }
}

// Reads send the offset, then fetch at most RxDepth bytes per chunk; only the first chunk
// waits the extra six poll intervals.
TEST(I2cLib, ReadsAreSplitByTheReceiveFifoDepth) {
  struct Case {
    size_t Length;
    std::string RxDepth;
    std::vector<size_t> Chunks;
  } Cases[] = {{0, "16", {}}, {6, "16", {6}}, {10, "4", {4, 4, 2}}, {40, "16", {16, 16, 8}}};
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Length);
    Bench B({{"i2c-rx-depth", Test.RxDepth}});
    const Bytes Stored = Pattern(64, 0x30);
    std::copy(Stored.begin(), Stored.end(), B.Eeprom().MutableContents().begin() + 0x120);
    Bytes Buffer(Test.Length + 1, 0xEE);
    EFI_STATUS Status = EFI_NOT_STARTED;
    std::vector<host::I2cEeprom::Transfer> Transfers;
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
      F.PelmoI2cHandover(FALSE);
      B.Eeprom().ClearTransfers();
      Status = F.I2cRead(kEeprom, 0x120, 2, Buffer.data(), Test.Length);
      // A read of nothing returns while its offset is still on the wire.
      B.Core().AdvanceTime(1'000'000);
      Transfers = B.Eeprom().Transfers();
      F.PelmoI2cHandover(TRUE);
    });
    EXPECT_EQ(Status, EFI_SUCCESS);
    ASSERT_GE(Transfers.size(), 1u);
    EXPECT_EQ(Transfers[0].Bytes, (Bytes{0x01, 0x20})); // the offset goes out even for no data
    std::vector<size_t> Chunks;
    for (size_t Index = 1; Index < Transfers.size(); Index++) {
      Chunks.push_back(Transfers[Index].Bytes.size());
    }
    EXPECT_EQ(Chunks, Test.Chunks);
    EXPECT_EQ(Bytes(Buffer.begin(), Buffer.begin() + Test.Length),
              Bytes(Stored.begin(), Stored.begin() + Test.Length));
    EXPECT_EQ(Buffer[Test.Length], 0xEE);
    EXPECT_EQ(B.ProbeAccount().StallsByUs[600], Test.Chunks.empty() ? 0u : 1u);
  }
}

// The speed selects the control value and the SCL counts the controller gets, and the bus never
// runs faster than asked; speeds out of range are refused before any register is touched.
TEST(I2cLib, SpeedsProgramTheControllerOrAreRefused) {
  // The standard mode's timing row (4.0 and 4.7 us, two fall times of 0.3 us) makes a 9.3 us
  // period of its nominal 10 us: the model's bus runs that mode up to 10 / 9.3 of the speed.
  constexpr double kStandardRowRatio = 10.0 / 9.3;
  struct Case {
    UINTN Speed;
    EFI_STATUS Status;
    uint32_t Control; // 0: the controller is not touched
  } Cases[] = {
      {100000, EFI_SUCCESS, 0x63},         {100001, EFI_SUCCESS, 0x65},       {400000, EFI_SUCCESS, 0x65},
      {3400000, EFI_SUCCESS, 0x67},        {30000, EFI_SUCCESS, 0x63},        {0, EFI_INVALID_PARAMETER, 0},
      {3400001, EFI_INVALID_PARAMETER, 0}, {29999, EFI_INVALID_PARAMETER, 0}, {99999, EFI_SUCCESS, 0x63},
      {100999, EFI_SUCCESS, 0x65},         {101000, EFI_SUCCESS, 0x65},       {399999, EFI_SUCCESS, 0x65},
      {400001, EFI_SUCCESS, 0x67},         {400999, EFI_SUCCESS, 0x67},       {401000, EFI_SUCCESS, 0x67},
      {3399999, EFI_SUCCESS, 0x67}};
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Speed);
    Bench B;
    EFI_STATUS Status = EFI_NOT_STARTED;
    UINT32 Speed = 0;
    unsigned Writes = 0;
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
      Status = F.I2cSetSpeed(Test.Speed);
      Speed = F.I2cGetSpeed();
      Writes = B.I2c(1).ConfigurationWrites();
      if (Test.Speed == 100000) {
        F.PelmoI2cHandover(FALSE); // the record's speed already: only a transfer sets it up
        F.I2cProbe(kEeprom);
        F.PelmoI2cHandover(TRUE);
      }
    });
    EXPECT_EQ(Status, Test.Status);
    EXPECT_EQ(Speed, Test.Control == 0 ? 100000u : Test.Speed);
    if (Test.Control == 0) {
      EXPECT_EQ(Writes, 0u);
      continue;
    }
    EXPECT_EQ(B.I2c(1).Register(host::I2cController::kControl), Test.Control);
    EXPECT_LE(1e9 / double(B.I2c(1).BitTimeNs()), double(Test.Speed) * kStandardRowRatio);
  }
  // The counts of 100 kHz as the controller received them.
  Bench B;
  B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
    F.PelmoI2cHandover(FALSE);
    F.I2cProbe(kEeprom);
    F.PelmoI2cHandover(TRUE);
  });
  std::vector<uint32_t> Counts;
  for (uint64_t Offset = 0x14; Offset <= 0x28; Offset += 4) {
    Counts.push_back(B.I2c(1).Register(Offset));
  }
  EXPECT_EQ(Counts, (std::vector<uint32_t>{1072, 1249, 222, 399, 112, 154}));
  EXPECT_EQ(B.I2c(1).Register(host::I2cController::kOwnAddress), 0x52u);
  EXPECT_EQ(B.I2c(1).Register(host::I2cController::kSdaHold), 75u);

  // Bus 0 has a record of its own: its default target, and poll intervals five times bus 1's.
  EFI_STATUS NoBus = EFI_SUCCESS;
  const uint64_t Before = B.ProbeAccount().StallsByUs[125];
  B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
    NoBus = F.I2cSetBus(2);
    F.I2cSetBus(0);
    F.I2cSetSpeed(400000);
  });
  EXPECT_EQ(NoBus, EFI_INVALID_PARAMETER);
  EXPECT_EQ(B.I2c(0).Register(host::I2cController::kTarget), 0x51u);
  EXPECT_EQ(B.I2c(0).Register(host::I2cController::kControl), 0x65u);
  EXPECT_GT(B.ProbeAccount().StallsByUs[125], Before); // 10,000,000 / 400,000 Hz, times 5
}

// Set up once, a controller is used again as it is; an error takes it down and the next
// transfer sets it up afresh.
TEST(I2cLib, SameTargetIsNotReprogrammedAndErrorsRecover) {
  Bench B;
  Bytes Buffer(6);
  unsigned AfterFirst = 0, AfterSecond = 0, AfterFailure = 0;
  EFI_STATUS Failed = EFI_SUCCESS, Recovered = EFI_NOT_STARTED;
  B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
    F.PelmoI2cHandover(FALSE);
    F.I2cRead(kEeprom, 0, 2, Buffer.data(), Buffer.size());
    AfterFirst = B.I2c(1).ConfigurationWrites();
    F.I2cRead(kEeprom, 6, 2, Buffer.data(), Buffer.size());
    AfterSecond = B.I2c(1).ConfigurationWrites();
    B.Eeprom().Fault().Nack = true;
    Failed = F.I2cRead(kEeprom, 0, 2, Buffer.data(), Buffer.size());
    AfterFailure = B.I2c(1).ConfigurationWrites();
    B.Eeprom().Fault().Nack = false;
    Recovered = F.I2cRead(kEeprom, 0, 2, Buffer.data(), Buffer.size());
    F.PelmoI2cHandover(TRUE);
  });
  EXPECT_GT(AfterFirst, 0u);
  EXPECT_EQ(AfterSecond, AfterFirst);
  EXPECT_EQ(Failed, EFI_CRC_ERROR);
  EXPECT_EQ(B.I2c(1).Register(host::I2cController::kTarget), 0x53u);
  EXPECT_GT(B.I2c(1).ConfigurationWrites(), AfterFailure); // set up again
  EXPECT_EQ(Recovered, EFI_SUCCESS);
}

// A byte the EEPROM has not sent yet when it is taken fails the read, the last byte as any
// other, and the flag it raised does not fail the next transfer.
TEST(I2cLib, MissingBytesFailTheReadAlone) {
  for (size_t Length : {1, 6}) {
    SCOPED_TRACE(Length);
    Bench B({}, {{"eeprom-stretch-us", "2000"}});
    const Bytes Stored = Pattern(6, 0x40);
    std::copy(Stored.begin(), Stored.end(), B.Eeprom().MutableContents().begin() + 6);
    Bytes Buffer(Length), Next(6);
    EFI_STATUS Failed = EFI_NOT_STARTED, After = EFI_NOT_STARTED;
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
      F.PelmoI2cHandover(FALSE);
      Failed = F.I2cRead(kEeprom, 0, 2, Buffer.data(), Length);
      B.Eeprom().Fault().StretchNs = 0;
      After = F.I2cRead(kEeprom, 6, 2, Next.data(), Next.size());
      F.PelmoI2cHandover(TRUE);
    });
    EXPECT_EQ(Failed, EFI_CRC_ERROR);
    EXPECT_EQ(After, EFI_SUCCESS);
    EXPECT_EQ(Next, Stored);
  }
}

// Every way a transfer can fail is reported, none as success.
TEST(I2cLib, FailuresAreReported) {
  struct Case {
    std::string Fault;
    bool Handover;
    EFI_STATUS Read, Write;
    std::vector<std::string> Expected; // protocol errors the fault causes
  } Cases[] = {
      {"eeprom-nack", true, EFI_CRC_ERROR, EFI_DEVICE_ERROR, {}},
      {"eeprom-read-fails", true, EFI_CRC_ERROR, EFI_SUCCESS, {}},
      {"i2c1-never-enables", true, EFI_DEVICE_ERROR, EFI_DEVICE_ERROR, {}},
      {"i2c1-stuck-busy", true, EFI_NOT_READY, EFI_NOT_READY, {}},
      {"", false, EFI_CRC_ERROR, EFI_DEVICE_ERROR, {"mp holds the bus"}},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Fault);
    std::map<std::string, std::string> Faults;
    if (!Test.Fault.empty()) {
      Faults[Test.Fault] = "";
    }
    Bench B({}, Faults);
    const Bytes Before = B.Eeprom().Contents();
    Bytes Buffer(6);
    const Bytes Data = Pattern(6, 1);
    EFI_STATUS Read = EFI_NOT_STARTED, Write = EFI_NOT_STARTED;
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
      if (Test.Handover) {
        F.PelmoI2cHandover(FALSE);
      }
      Read = F.I2cRead(kEeprom, 0, 2, Buffer.data(), Buffer.size());
      Write = F.I2cWrite(kEeprom, 0, 2, Data.data(), Data.size());
      if (Test.Handover) {
        F.PelmoI2cHandover(TRUE);
      }
    });
    EXPECT_EQ(Read, Test.Read);
    EXPECT_EQ(Write, Test.Write);
    if (Write != EFI_SUCCESS) {
      EXPECT_EQ(B.Eeprom().Contents(), Before);
    }
    EXPECT_EQ(B.HasErrors(), !Test.Expected.empty());
    B.ExpectErrors(Test.Expected);
  }
}

// On an idle, set-up bus at 100 kHz a 6-byte read costs its fixed stalls plus one idle wait per
// status poll that found the bus busy; a 6-byte write spends at least 18 ms in write cycles.
TEST(I2cLib, TransfersCostTheWaitsTheHardwareNeeds) {
  Bench B;
  Bytes Buffer(6);
  const Bytes Data = Pattern(6, 9);
  uint64_t ReadStallNs = 0, WriteStallNs = 0;
  unsigned BusyPolls = 0;
  std::map<uint64_t, uint64_t> ReadStalls;
  B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
    F.PelmoI2cHandover(FALSE);
    F.I2cProbe(kEeprom);
    const host::TimeAccount Start = B.ProbeAccount();
    const unsigned PollsBefore = B.I2c(1).BusyStatusReads();
    F.I2cRead(kEeprom, 0, 2, Buffer.data(), Buffer.size());
    const host::TimeAccount AfterRead = B.ProbeAccount();
    BusyPolls = B.I2c(1).BusyStatusReads() - PollsBefore;
    ReadStallNs = AfterRead.StallNs - Start.StallNs;
    for (const auto &[Length, Times] : AfterRead.StallsByUs) {
      const auto Earlier = Start.StallsByUs.find(Length);
      ReadStalls[Length] = Times - (Earlier == Start.StallsByUs.end() ? 0 : Earlier->second);
    }
    F.I2cWrite(kEeprom, 6, 2, Data.data(), Data.size());
    WriteStallNs = B.ProbeAccount().StallNs - AfterRead.StallNs;
    F.PelmoI2cHandover(TRUE);
  });
  // Each delay also takes its first counter read: one tick of 10 ns.
  uint64_t Delays = 0;
  for (const auto &[Length, Times] : ReadStalls) {
    Delays += Times;
  }
  EXPECT_EQ(ReadStallNs, (3000 + 2310 + 1000 * uint64_t(BusyPolls)) * 1000 + Delays * 10);
  EXPECT_EQ(ReadStalls[3000], 1u);
  EXPECT_EQ(ReadStalls[10], 6u);
  EXPECT_EQ(ReadStalls[600], 1u);
  EXPECT_EQ(ReadStalls[150], 1u);
  EXPECT_EQ(ReadStalls[250], 6u);
  EXPECT_EQ(ReadStalls[1000], BusyPolls);
  EXPECT_GE(WriteStallNs, 18'000'000u);
}

} // namespace
} // namespace vaultcell_test
