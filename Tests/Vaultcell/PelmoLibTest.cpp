// The management-processor library against the mailbox and status-region models: message
// exchange, hand-over, build identifier, file load and the firmware report.
#include "VaultcellBench.h"

#include <gtest/gtest.h>

#include <set>

namespace vaultcell_test {
namespace {

using Message = host::ManagementProcessor::Message;

std::vector<std::pair<uint32_t, uint32_t>> Words(const std::vector<Message> &Messages) {
  std::vector<std::pair<uint32_t, uint32_t>> Result;
  for (const Message &Entry : Messages) {
    Result.emplace_back(Entry.Word, Entry.Data);
  }
  return Result;
}

// A message drops a stale acknowledge first and waits for its own; without one it gives up
// after 100 checks, each followed by one spin. The hand-over passes the outcome on.
TEST(PelmoLib, MessagesWaitForTheirAcknowledge) {
  struct Case {
    std::map<std::string, std::string> Faults;
    EFI_STATUS Send, Handover;
    unsigned Spins; // one before an acknowledge arrives, 100 for a message never acknowledged
  } Cases[] = {
      {{}, EFI_SUCCESS, EFI_SUCCESS, 2},
      {{{"mailbox-no-ack", ""}}, EFI_TIMEOUT, EFI_TIMEOUT, 200},
      {{{"mailbox-silent-from", "3"}}, EFI_SUCCESS, EFI_TIMEOUT, 101},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Spins);
    Bench B({}, Test.Faults);
    // An earlier message whose acknowledge nobody cleared.
    B.Mailbox().Write(host::ManagementProcessor::kOutgoingData, 4, 0);
    B.Mailbox().Write(host::ManagementProcessor::kOutgoingMessage, 4, 0x0D000000);
    B.Core().AdvanceTime(host::ManagementProcessor::kAckDelayNs);
    EFI_STATUS Status = EFI_NOT_STARTED, Handover = EFI_NOT_STARTED;
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
      Status = F.PelmoSendMsg(0x0E000002, 0);
      Handover = F.PelmoI2cHandover(TRUE);
    });
    EXPECT_EQ(Status, Test.Send);
    EXPECT_EQ(Handover, Test.Handover);
    EXPECT_EQ(Words(B.Mailbox().Messages()), (std::vector<std::pair<uint32_t, uint32_t>>{
                                                 {0x0D000000, 0}, {0x0E000002, 0}, {0x0E000001, 0}}));
    EXPECT_EQ(B.ProbeAccount().StallsByUs[10], Test.Spins);
  }
}

TEST(PelmoLib, BuildIdentifierIs0xFFWhenTheQueryFails) {
  struct Case {
    std::string Fault;
    uint32_t Expected;
  } Cases[] = {{"", 0x01020304}, {"mailbox-no-ack", 0xFF}, {"mailbox-no-reply", 0xFF}};
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Fault);
    Bench B({}, Test.Fault.empty() ? std::map<std::string, std::string>{}
                                   : std::map<std::string, std::string>{{Test.Fault, ""}});
    UINT32 Id = 0;
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) { Id = F.PelmoQueryBuildId(); });
    EXPECT_EQ(Id, Test.Expected);
    EXPECT_EQ(B.Mailbox().PendingReplies(), 0u);
  }
}

// The nine file-load words, the name packed into a 16-byte field, the whole-file or range
// choice, and a completion that always ends.
TEST(PelmoLib, FileLoadSendsNineWordsAndEnds) {
  struct Case {
    const char *Name;
    UINT64 Start, Size;
    std::string Fault, Status;
    uint32_t Kind;
    std::string Loaded;
    EFI_STATUS Result;
  } Cases[] = {
      {"ABCDEFGHIJKLMNOPQRS", 0, 0xFFFFFFFF, "", "", 0x12000000, "ABCDEFGHIJKLMNO", EFI_SUCCESS},
      {"fw.bin", 0, 0x1000, "", "", 0x11000000, "fw.bin", EFI_SUCCESS},
      {"fw.bin", 4, 0xFFFFFFFF, "", "0x1360=0xA4000013", 0x11000000, "fw.bin", EFI_SUCCESS},
      {"fw.bin", 0, 0xFFFFFFFF, "mailbox-no-reply", "", 0x12000000, "fw.bin", EFI_TIMEOUT},
      {"fw.bin", 0, 0xFFFFFFFF, "mailbox-no-ack", "0x1360=0xA4000013", 0, "", EFI_TIMEOUT},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Name + Test.Fault + Test.Status);
    std::map<std::string, std::string> Settings, Faults;
    if (!Test.Status.empty()) {
      Settings["pelmo-status"] = Test.Status;
    }
    if (!Test.Fault.empty()) {
      Faults[Test.Fault] = "";
    }
    Bench B(Settings, Faults);
    EFI_STATUS Status = EFI_NOT_STARTED;
    const host::ImageResult Run = B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
      Status = F.TessilIppLoadFile(Test.Name, 0x123456780ull, Test.Start, Test.Size);
    });
    EXPECT_FALSE(Run.Halted.has_value());
    EXPECT_EQ(Status, Test.Result);
    const auto Sent = Words(B.Mailbox().Messages());
    ASSERT_EQ(Sent.size(), 9u);
    const uint32_t Expected[] = {0x41008000, 0x41002001, 0x41002002, 0x41002003, 0x41002004,
                                 0x41002005, 0x41002006, 0x41002007, 0x41004008};
    for (size_t Index = 0; Index < Sent.size(); Index++) {
      EXPECT_EQ(Sent[Index].first, Expected[Index]);
    }
    EXPECT_EQ(Sent[7].second, 0x1u);
    EXPECT_EQ(Sent[8].second, 0x23456780u);
    if (Test.Kind != 0) {
      ASSERT_EQ(B.Mailbox().Loads().size(), 1u);
      EXPECT_EQ(B.Mailbox().Loads()[0].Name, Test.Loaded);
      EXPECT_EQ(B.Mailbox().Loads()[0].Kind, Test.Kind);
      EXPECT_EQ(B.Mailbox().Loads()[0].RangeStart, Test.Start);
      EXPECT_EQ(B.Mailbox().Loads()[0].RangeSize, uint32_t(Test.Size));
    }
  }
}

// The report's texts: the short form without a build date, the long one with its lines, the
// build identifier present or absent, and no report without usable firmware.
TEST(PelmoLib, FirmwareReportTexts) {
  struct Case {
    std::string Status;
    std::string BuildId;
    EFI_STATUS Result;
    std::u16string Text;
  } Cases[] = {
      {"0x11B0=0,0x11AC=0", "", EFI_SUCCESS, u"Pelmo FW:\n\r\tVer: 1.3\n\r"},
      {"0x11B0=0,0x11AC=0x20", "", EFI_SUCCESS, u"Pelmo FW:\n\r\tVer: (build 01.02.03.04) 1.3\n\r"},
      {"0x11B0=0,0x11AC=0x20", "0xFF", EFI_SUCCESS, u"Pelmo FW:\n\r\tVer: 1.3\n\r"},
      {"0x11B0=0x20150630,0x11AC=0x005A0007", "", EFI_SUCCESS,
       u"Pelmo FW:\n\r\tVer: 1.3 (build 2015/06/30)\n\r\tTPC: enable\n\r\tAVS: supported\n\r\tPMD: 1000 "
       u"mV\n\r\tSOC: "
       u"950 mV\n\r"},
      {"0x11B0=0x20261130,0x11AC=0x007B0026,0x1360=0x25", "", EFI_SUCCESS,
       u"Pelmo FW:\n\r\tVer: 2.5 (build 01.02.03.04 2026/11/30)\n\r\tPMD: 1100 mV\n\r"},
      {"0x11AC=0x00FE0003", "", EFI_SUCCESS,
       u"Pelmo FW:\n\r\tVer: 1.3 (build 2026/11/30)\n\r\tTPC: enable\n\r\tAVS: unsupported\n\r"},
      // The ends of the voltage codes, and the load states that leave firmware usable.
      {"0x11AC=0x000C0001,0x1360=0x08000013", "", EFI_SUCCESS,
       u"Pelmo FW:\n\r\tVer: 1.3 (build 2026/11/30)\n\r\tTPC: disable\n\r\tAVS: unsupported\n\r\tPMD: "
       u"1200 mV\n\r\tSOC: 900 mV\n\r"},
      {"0x11AC=0x00600000,0x1360=0x0C000013", "", EFI_SUCCESS,
       u"Pelmo FW:\n\r\tVer: 1.3 (build 2026/11/30)\n\r\tPMD: 900 mV\n\r\tSOC: 960 mV\n\r"},
      {"0x11AC=0x007D0000", "", EFI_SUCCESS,
       u"Pelmo FW:\n\r\tVer: 1.3 (build 2026/11/30)\n\r\tPMD: 1300 mV\n\r"},
      {"0x1360=0x04000013", "", EFI_UNSUPPORTED, u"untouched"},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Status);
    std::map<std::string, std::string> Settings = {{"pelmo-status", Test.Status}};
    if (!Test.BuildId.empty()) {
      Settings["pelmo-build-id"] = Test.BuildId;
    }
    Bench B(Settings);
    CHAR16 Report[256] = u"untouched";
    EFI_STATUS Status = EFI_NOT_STARTED;
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) {
      Status = F.PelmoFormatFirmwareInfo(Report, sizeof(Report));
    });
    EXPECT_EQ(Status, Test.Result);
    EXPECT_EQ(std::u16string(Report), Test.Text);
  }
}

// The MAC section lists the slots the EEPROM service filled, in slot order, within its
// 180-character buffer: slots that do not fit are left out.
TEST(PelmoLib, FirmwareReportMacSection) {
  struct Case {
    std::string Slots; // the test EEPROM MAC producer's texts; empty: the real driver
    std::vector<std::string> Listed;
  } Cases[] = {
      {"", {Placeholder(1), Placeholder(2), Placeholder(5), Placeholder(6)}},
      {"0=a0:00:00:00:00:00,1=a1:00:00:00:00:00,2=a2:00:00:00:00:00,3=a3:00:00:00:00:00,4=a4:00:00:00:00:00,"
       "5=a5:00:00:00:00:00,6=a6:00:00:00:00:00,7=a7:00:00:00:00:00,8=a8:00:00:00:00:00",
       {"a0:00:00:00:00:00", "a1:00:00:00:00:00", "a2:00:00:00:00:00", "a3:00:00:00:00:00",
        "a4:00:00:00:00:00", "a5:00:00:00:00:00", "a6:00:00:00:00:00"}},
      {"2=short,5=N/A", {"short"}},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Slots);
    std::map<std::string, std::string> Settings = {{"pelmo-status", "0x11AC=0x00FF0000"}};
    if (!Test.Slots.empty()) {
      Settings["eeprom-mac-slots"] = Test.Slots;
    }
    Bench B(Settings);
    if (Test.Slots.empty()) {
      ASSERT_EQ(B.Core().RunModule("Vaultcell").Status, EFI_SUCCESS);
    }
    CHAR16 Report[512] = {};
    B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) { F.PelmoFormatFirmwareInfo(Report, sizeof(Report)); });
    std::string Expected = "Pelmo FW:\n\r\tVer: 1.3 (build 2026/11/30)\n\r\tMAC address:";
    for (const std::string &Text : Test.Listed) {
      Expected += "\n\r\t\t" + Text;
    }
    EXPECT_EQ(Narrow(Report), Expected + "\n\r");
  }
}

// An image whose entry fails takes the libraries' notifications with it: the strict core finds
// no event left open at the unload.
TEST(PelmoLib, FailedEntryLeavesNoNotification) {
  Bench B;
  const host::ImageResult Run = B.Probe([](const VAULTCELL_PROBE_FUNCTIONS &) {}, EFI_UNSUPPORTED);
  EXPECT_TRUE(Run.Unloaded);
  EXPECT_EQ(B.Core().Errors(), std::vector<std::string>{});
}

// After the virtual-address change both libraries reach their blocks at the converted
// addresses: the mailbox takes the message, an I2C controller and the status region answer,
// and no access is refused (an unconverted one would be an error of the boot).
TEST(PelmoLib, BasesFollowTheVirtualAddressChange) {
  constexpr int64_t kOffset = 0x40000000;
  Bench B;
  // Regionhold (run by the bench) made the blocks runtime MMIO: the memory map gives them virtual
  // addresses.
  VAULTCELL_PROBE_FUNCTIONS Functions{};
  B.Probe([&](const VAULTCELL_PROBE_FUNCTIONS &F) { Functions = F; });
  ASSERT_EQ(B.Core().ExitBootServices(), EFI_SUCCESS);
  ASSERT_EQ(B.Core().SetVirtualAddressMap(kOffset), EFI_SUCCESS);
  const unsigned Programmed = B.I2c(0).ConfigurationWrites() + B.I2c(1).ConfigurationWrites();
  UINT8 Byte = 0;
  B.Core().Guard([&] {
    Functions.PelmoSendMsg(0x0E000002, 0);
    Functions.I2cRead(0x53, 0, 2, &Byte, 1);
    Functions.PelmoGetLoadState();
  });
  EXPECT_TRUE(B.Core().Faults().empty());
  ASSERT_FALSE(B.Mailbox().Messages().empty());
  EXPECT_EQ(B.Mailbox().Messages().back().Word, 0x0E000002u);
  EXPECT_GT(B.I2c(0).ConfigurationWrites() + B.I2c(1).ConfigurationWrites(), Programmed);
}

} // namespace
} // namespace vaultcell_test
