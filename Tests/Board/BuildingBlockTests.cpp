// The shared model building blocks: the I2C bus enforces its protocol for every master, a PCI
// function's configuration space keeps its read-only bits and sizes and decodes its BARs, and
// a register file keeps its read-only bits.
#include <Common/I2cBus.h>
#include <Common/PciFunction.h>
#include <Common/PciMemoryWindow.h>
#include <Common/RegisterFile.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

using host::I2cBus;

// A target that acknowledges everything and reads back what was written.
class EchoTarget : public host::I2cTarget {
public:
  bool Select(bool) override { return true; }
  bool WriteByte(uint8_t Byte) override {
    Last = Byte;
    return true;
  }
  uint8_t ReadByte(bool) override { return Last; }
  void Stop() override { Stops++; }
  uint8_t Last = 0;
  int Stops = 0;
};

TEST(I2cBus, SharedBusProtocol) {
  struct Case {
    const char *Name;
    std::function<void(I2cBus &)> Steps;
    const char *Error; // "" when the sequence keeps the rules
  };
  const Case Cases[] = {
      {"write, repeated start, read, stop",
       [](I2cBus &Bus) {
         EXPECT_EQ(Bus.Start("i2c0", 0x53, false), I2cBus::StartResult::Ack);
         EXPECT_TRUE(Bus.Write("i2c0", 0x5A));
         EXPECT_EQ(Bus.Start("i2c0", 0x53, true), I2cBus::StartResult::Ack);
         EXPECT_EQ(Bus.Read("i2c0", false), 0x5A);
         Bus.Stop("i2c0");
         EXPECT_FALSE(Bus.Busy());
       },
       ""},
      {"nobody at the address",
       [](I2cBus &Bus) {
         EXPECT_EQ(Bus.Start("i2c0", 0x50, false), I2cBus::StartResult::Nack);
         EXPECT_EQ(Bus.Owner(), "i2c0");
         Bus.Stop("i2c0");
       },
       ""},
      {"another master holds the bus",
       [](I2cBus &Bus) {
         Bus.Start("mp", 0x53, false);
         EXPECT_EQ(Bus.Start("i2c0", 0x53, false), I2cBus::StartResult::ArbitrationLost);
         EXPECT_FALSE(Bus.Write("i2c0", 1));
       },
       "i2c0 wrote a byte while mp holds the bus"},
      {"stuck bus",
       [](I2cBus &Bus) {
         Bus.SetStuck(true);
         EXPECT_EQ(Bus.Start("i2c0", 0x53, false), I2cBus::StartResult::ArbitrationLost);
         Bus.Reset();
         EXPECT_FALSE(Bus.Busy());
       },
       ""},
      {"byte without a start", [](I2cBus &Bus) { Bus.Read("i2c0", true); },
       "i2c0 read a byte without a start"},
      {"stop without a start", [](I2cBus &Bus) { Bus.Stop("i2c0"); }, "i2c0 sent a stop without a start"},
      {"read in a write transfer",
       [](I2cBus &Bus) {
         Bus.Start("i2c0", 0x53, false);
         Bus.Read("i2c0", true);
       },
       "i2c0 read a byte in a write transfer"},
      {"write in a read transfer",
       [](I2cBus &Bus) {
         Bus.Start("i2c0", 0x53, true);
         Bus.Write("i2c0", 1);
       },
       "i2c0 wrote a byte in a read transfer"},
      {"read after the last byte was NACKed",
       [](I2cBus &Bus) {
         Bus.Start("i2c0", 0x53, true);
         Bus.Read("i2c0", false);
         EXPECT_EQ(Bus.Read("i2c0", true), 0xFF);
       },
       "i2c0 read on after it NACKed the last byte"},
      {"the third transfer not acknowledged (repeated starts count; lost arbitration does not)",
       [](I2cBus &Bus) {
         Bus.SetNackedTransfer(3);
         EXPECT_EQ(Bus.Start("i2c0", 0x53, false), I2cBus::StartResult::Ack);
         EXPECT_EQ(Bus.Start("mp", 0x53, false), I2cBus::StartResult::ArbitrationLost);
         EXPECT_EQ(Bus.Start("i2c0", 0x53, true), I2cBus::StartResult::Ack);
         EXPECT_EQ(Bus.Start("i2c0", 0x53, false), I2cBus::StartResult::Nack);
         EXPECT_EQ(Bus.Start("i2c0", 0x53, false), I2cBus::StartResult::Ack);
         Bus.Reset();
         EXPECT_EQ(Bus.Transfers(), 4u);
       },
       ""},
      {"address beyond seven bits",
       [](I2cBus &Bus) { EXPECT_EQ(Bus.Start("i2c0", 0xA6, false), I2cBus::StartResult::Nack); },
       "not a 7-bit address"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    I2cBus Bus("bus1");
    auto Eeprom = std::make_shared<EchoTarget>();
    Bus.AddTarget(0x53, Eeprom);
    Each.Steps(Bus);
    if (*Each.Error == '\0') {
      EXPECT_TRUE(Bus.ProtocolErrors().empty()) << Bus.ProtocolErrors().front();
    } else {
      ASSERT_EQ(Bus.ProtocolErrors().size(), 1u);
      EXPECT_NE(Bus.ProtocolErrors()[0].find(Each.Error), std::string::npos) << Bus.ProtocolErrors()[0];
      EXPECT_EQ(Bus.ProtocolErrors()[0].rfind("bus1: ", 0), 0u);
    }
  }
}

class Window : public host::MmioDevice {
public:
  std::string Name() const override { return "window"; }
  uint64_t Read(uint64_t Offset, unsigned) override { return Offset == Written ? Value : 0; }
  void Write(uint64_t Offset, unsigned, uint64_t Data) override {
    Written = Offset;
    Value = Data;
  }
  uint64_t Written = ~0ull;
  uint64_t Value = 0;
};

TEST(PciFunction, ConfigurationSpaceAndBars) {
  auto Frame = std::make_shared<Window>();
  auto Ports = std::make_shared<Window>();
  host::PciFunction Vga("vga", {0x1A03, 0x2000, 0x41, 0x030000, 0x1A03, 0x2000});
  Vga.DefineBar(0, host::PciBarKind::Memory64, 0x1000000, Frame, true);
  Vga.DefineBar(2, host::PciBarKind::Io, 0x20, Ports);
  Vga.Define(host::PciConfig::Status, 2, 0x0010 | 0x8000, 0,
             0x8000); // capabilities list; parity error (RW1C)

  // Identity is read-only; the class code spans three bytes.
  Vga.ConfigWrite(host::PciConfig::VendorId, 4, 0xFFFFFFFF);
  EXPECT_EQ(Vga.ConfigRead(host::PciConfig::VendorId, 4), 0x20001A03u);
  EXPECT_EQ(Vga.ConfigRead(host::PciConfig::RevisionId, 4), 0x03000041u);
  // Sizing: all ones reads back the size mask with the type bits.
  Vga.ConfigWrite(host::PciConfig::Bar0, 4, 0xFFFFFFFF);
  Vga.ConfigWrite(host::PciConfig::Bar0 + 4, 4, 0xFFFFFFFF);
  EXPECT_EQ(Vga.ConfigRead(host::PciConfig::Bar0, 4), 0xFF00000Cu);
  EXPECT_EQ(Vga.ConfigRead(host::PciConfig::Bar0 + 4, 4), 0xFFFFFFFFu);
  Vga.ConfigWrite(host::PciConfig::Bar0 + 8, 4, 0xFFFFFFFF);
  EXPECT_EQ(Vga.ConfigRead(host::PciConfig::Bar0 + 8, 4), 0xFFFFFFE1u);
  EXPECT_EQ(Vga.ConfigRead(host::PciConfig::Bar0 + 12, 4), 0u) << "no BAR 3";
  // Write-one-to-clear status bits.
  Vga.ConfigWrite(host::PciConfig::Status, 2, 0x8010);
  EXPECT_EQ(Vga.ConfigRead(host::PciConfig::Status, 2), 0x0010u);

  // Decode only once programmed and enabled.
  Vga.ConfigWrite(host::PciConfig::Bar0, 4, 0x20000000);
  Vga.ConfigWrite(host::PciConfig::Bar0 + 4, 4, 0x1);
  Vga.ConfigWrite(host::PciConfig::Bar0 + 8, 4, 0x3C0);
  EXPECT_EQ(Vga.BarAddress(0), 0x120000000ull);
  EXPECT_FALSE(Vga.DecodeMemory(0x120000010, 4));
  Vga.ConfigWrite(host::PciConfig::Command, 2, host::PciConfig::CommandMemorySpace);
  ASSERT_TRUE(Vga.DecodeMemory(0x120000010, 4));
  EXPECT_EQ(Vga.DecodeMemory(0x120000010, 4)->Device, Frame.get());
  EXPECT_EQ(Vga.DecodeMemory(0x120000010, 4)->Offset, 0x10u);
  EXPECT_FALSE(Vga.DecodeMemory(0x120FFFFFE, 4)) << "runs past the BAR";
  EXPECT_FALSE(Vga.DecodeIo(0x3C4, 1)) << "I/O decode is off";
  Vga.ConfigWrite(host::PciConfig::Command, 2, host::PciConfig::CommandIoSpace);
  EXPECT_EQ(Vga.DecodeIo(0x3C4, 1)->Offset, 4u);

  // Misaligned or outside: a protocol error, all ones.
  EXPECT_TRUE(Vga.ProtocolErrors().empty());
  EXPECT_EQ(Vga.ConfigRead(0x02, 4), 0xFFFFFFFFu);
  Vga.ConfigWrite(0xFF, 2, 0);
  EXPECT_EQ(Vga.ProtocolErrors().size(), 2u);

  Vga.Reset();
  EXPECT_EQ(Vga.ConfigRead(host::PciConfig::Bar0, 4), 0x0000000Cu);
  EXPECT_EQ(Vga.CommandRegister(), 0u);
  EXPECT_THROW(Vga.DefineBar(5, host::PciBarKind::Memory64, 0x1000, Frame), std::invalid_argument)
      << "no room for the high half";
  EXPECT_THROW(Vga.DefineBar(4, host::PciBarKind::Memory32, 0x1800, Frame), std::invalid_argument)
      << "not a power of two";
}

TEST(PciMemoryWindow, RoutesToTheDecodingBarOrAborts) {
  auto Registers = std::make_shared<Window>();
  auto Sata =
      std::make_shared<host::PciFunction>("sata", host::PciFunction::Identity{0xA078, 0x5501, 0, 0x010601});
  Sata->DefineBar(5, host::PciBarKind::Memory32, 0x400000, Registers);
  host::PciMemoryWindow Bridge("pci-mem", 0x19000000);
  Bridge.AddFunction(Sata);
  Sata->ConfigWrite(host::PciConfig::Bar0 + 20, 4, 0x1A400000);
  Sata->ConfigWrite(host::PciConfig::Command, 2, host::PciConfig::CommandMemorySpace);

  Bridge.Write(0x1400100, 4, 0xCAFE);
  EXPECT_EQ(Registers->Written, 0x100u);
  EXPECT_EQ(Bridge.Read(0x1400100, 4), 0xCAFEu);
  EXPECT_TRUE(Bridge.ProtocolErrors().empty());
  EXPECT_EQ(Bridge.Read(0x0, 4), ~0ull) << "no BAR at the window's start";
  Sata->ConfigRead(0x21, 2);
  ASSERT_EQ(Bridge.ProtocolErrors().size(), 2u)
      << "the window's master abort and the function's misaligned read";
  EXPECT_NE(Bridge.ProtocolErrors()[0].find("master abort"), std::string::npos);
  Bridge.Reset();
  EXPECT_EQ(Sata->BarAddress(5), 0u);
}

TEST(RegisterFile, WritableBitsAndReset) {
  host::RegisterFile Registers({{0x00, "control", 0x61, 0x7F}, {0x9C, "enable status", 0x0, 0x0}});
  EXPECT_TRUE(Registers.Write(0x00, 0xFFFFFFFF));
  EXPECT_EQ(Registers.Get(0x00), 0x7Fu);
  EXPECT_TRUE(Registers.Write(0x9C, 1));
  EXPECT_EQ(Registers.Get(0x9C), 0u) << "read-only to the bus";
  Registers.Set(0x9C, 1);
  EXPECT_EQ(Registers.Get(0x9C), 1u);
  EXPECT_FALSE(Registers.Write(0x04, 1));
  EXPECT_EQ(Registers.NameOf(0x9C), "enable status");
  Registers.Reset();
  EXPECT_EQ(Registers.Get(0x00), 0x61u);
  EXPECT_THROW(host::RegisterFile({{0x0, "a"}, {0x0, "b"}}), std::invalid_argument);
}

} // namespace
