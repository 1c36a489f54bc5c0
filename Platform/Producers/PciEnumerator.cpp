// The host board's PCI bus enumerator.
#include "PciEnumerator.h"

#include "ProducerRecord.h"

#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
#include <Protocol/PciHostBridgeResourceAllocation.h>
#include <Protocol/PciRootBridgeIo.h>

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <optional>
#include <sstream>

namespace host {
namespace {

constexpr uint16_t NO_DEVICE = 0xFFFF;
constexpr uint32_t ALL_ONES_32 = 0xFFFFFFFF;
constexpr uint32_t TYPE0_BARS = 6;
constexpr size_t DESCRIPTOR_SIZE = sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR);

using ResAlloc = EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL;
using RootBridgeIo = EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL;

std::string Hex(uint64_t Value, int Digits) {
  std::ostringstream Text;
  Text << std::uppercase << std::hex << std::setw(Digits) << std::setfill('0') << Value;
  return Text.str();
}

// The QWORD descriptors of a list up to its end tag (at most Limit bytes are looked at).
std::vector<EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR> ParseDescriptors(const void *List, size_t Limit) {
  std::vector<EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR> Result;
  const auto *Bytes = static_cast<const uint8_t *>(List);
  for (size_t Offset = 0; List != nullptr && Offset + DESCRIPTOR_SIZE <= Limit;) {
    if (Bytes[Offset] != ACPI_ADDRESS_SPACE_DESCRIPTOR) {
      break;
    }
    EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Descriptor;
    std::memcpy(&Descriptor, Bytes + Offset, sizeof(Descriptor));
    Result.push_back(Descriptor);
    Offset += DESCRIPTOR_SIZE;
  }
  return Result;
}

// A descriptor list a member handed out is read and then freed, whatever it held.
constexpr size_t DESCRIPTOR_LIST_LIMIT = 16 * DESCRIPTOR_SIZE;

struct BusRange {
  uint64_t First = 0, Count = 0;
};

// What the enumerator hands the protocols' members (arguments they fill, the resource list
// they read) lives in DRAM, where their firmware can reach it.
struct CallArea {
  EFI_HANDLE Handle;
  UINT64 Attributes;
  VOID *Buffer; // a descriptor list a member hands out
  UINT32 Value;
  UINT16 Vendor;
  PCI_TYPE00 Header;
  UINT8 Resources[DESCRIPTOR_SIZE + sizeof(EFI_ACPI_END_TAG_DESCRIPTOR)];
};

class Enumerator {
public:
  Enumerator(Platform &P, const PciBarPlacements &Placements)
      : P_(P), Bs_(P.BootServices()), Placements_(Placements) {}

  PciEnumeration Run(EFI_HANDLE Only) {
    VOID *Area = nullptr;
    if (EFI_ERROR(Bs_->AllocatePool(EfiBootServicesData, sizeof(CallArea), &Area))) {
      Problem("no memory for the enumeration's calls");
      return std::move(Result_);
    }
    Call_ = static_cast<CallArea *>(Area);
    for (EFI_HANDLE HostBridge : Handles(&gEfiPciHostBridgeResourceAllocationProtocolGuid)) {
      if (Only != nullptr && HostBridge != Only) {
        continue;
      }
      void *Interface = nullptr;
      if (EFI_ERROR(Bs_->HandleProtocol(HostBridge, &gEfiPciHostBridgeResourceAllocationProtocolGuid,
                                        &Interface)) ||
          Interface == nullptr) {
        continue;
      }
      Result_.HostBridges++;
      EnumerateHostBridge(static_cast<ResAlloc *>(Interface));
    }
    Bs_->FreePool(Call_);
    return std::move(Result_);
  }

private:
  std::vector<EFI_HANDLE> Handles(EFI_GUID *Protocol) {
    UINTN Count = 0;
    EFI_HANDLE *Buffer = nullptr;
    if (EFI_ERROR(Bs_->LocateHandleBuffer(ByProtocol, Protocol, nullptr, &Count, &Buffer))) {
      return {};
    }
    std::vector<EFI_HANDLE> Result(Buffer, Buffer + Count);
    Bs_->FreePool(Buffer);
    return Result;
  }

  void Problem(const std::string &Text) { Result_.Problems.push_back(Text); }

  void Expect(EFI_STATUS Status, const std::string &What) {
    if (EFI_ERROR(Status)) {
      Problem(What + ": " + StatusName(Status));
    }
  }

  void Notify(ResAlloc *Alloc, EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PHASE Phase) {
    Expect(CallMember(P_, Alloc->NotifyPhase, Alloc, Phase), "NotifyPhase(" + std::to_string(Phase) + ")");
  }

  struct RootBridge {
    EFI_HANDLE Handle = nullptr;
    RootBridgeIo *Io = nullptr;
    BusRange Buses;
    std::vector<EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR> Windows; // the memory apertures it reports
    std::vector<size_t> Functions;                          // indexes into Result_.Functions
  };

  void EnumerateHostBridge(ResAlloc *Alloc) {
    Notify(Alloc, EfiPciHostBridgeBeginEnumeration);
    Notify(Alloc, EfiPciHostBridgeBeginBusAllocation);
    std::vector<RootBridge> Bridges;
    for (Call_->Handle = nullptr;
         CallMember(P_, Alloc->GetNextRootBridge, Alloc, &Call_->Handle) == EFI_SUCCESS;) {
      RootBridge Bridge;
      Bridge.Handle = Call_->Handle;
      if (!OpenRootBridge(Alloc, Bridge)) {
        continue;
      }
      Result_.RootBridges++;
      ScanBuses(Alloc, Bridge);
      Bridges.push_back(std::move(Bridge));
    }
    Notify(Alloc, EfiPciHostBridgeEndBusAllocation);
    Notify(Alloc, EfiPciHostBridgeBeginResourceAllocation);
    // The apertures come first: a root bridge that cannot report them gets no resources.
    std::erase_if(Bridges, [this](RootBridge &Bridge) { return !ReadWindows(Bridge); });
    for (RootBridge &Bridge : Bridges) {
      SubmitResources(Alloc, Bridge);
    }
    Notify(Alloc, EfiPciHostBridgeAllocateResources);
    for (RootBridge &Bridge : Bridges) {
      AssignResources(Alloc, Bridge);
    }
    Notify(Alloc, EfiPciHostBridgeSetResources);
    Notify(Alloc, EfiPciHostBridgeEndResourceAllocation);
    Notify(Alloc, EfiPciHostBridgeEndEnumeration);
  }

  // The root bridge's I/O protocol, allocation attributes and bus range.
  bool OpenRootBridge(ResAlloc *Alloc, RootBridge &Bridge) {
    void *Interface = nullptr;
    if (EFI_ERROR(Bs_->HandleProtocol(Bridge.Handle, &gEfiPciRootBridgeIoProtocolGuid, &Interface)) ||
        Interface == nullptr) {
      Problem("root bridge without the root bridge I/O protocol");
      return false;
    }
    Bridge.Io = static_cast<RootBridgeIo *>(Interface);
    Expect(CallMember(P_, Alloc->GetAllocAttributes, Alloc, Bridge.Handle, &Call_->Attributes),
           "GetAllocAttributes");
    Call_->Buffer = nullptr;
    EFI_STATUS Status = CallMember(P_, Alloc->StartBusEnumeration, Alloc, Bridge.Handle, &Call_->Buffer);
    void *Configuration = Call_->Buffer;
    if (EFI_ERROR(Status)) {
      Expect(Status, "StartBusEnumeration");
      return false;
    }
    for (const auto &Descriptor : ParseDescriptors(Configuration, DESCRIPTOR_LIST_LIMIT)) {
      if (Descriptor.ResType == ACPI_ADDRESS_SPACE_TYPE_BUS) {
        Bridge.Buses = {Descriptor.AddrRangeMin, Descriptor.AddrLen};
      }
    }
    // The bus range is taken as offered: the same descriptor goes back.
    Expect(CallMember(P_, Alloc->SetBusNumbers, Alloc, Bridge.Handle, Configuration), "SetBusNumbers");
    Bs_->FreePool(Configuration);
    return true;
  }

  uint32_t ReadConfig32(RootBridge &Bridge, uint64_t Address) {
    Call_->Value = ALL_ONES_32;
    Expect(CallMember(P_, Bridge.Io->Pci.Read, Bridge.Io, EfiPciWidthUint32, Address, 1, &Call_->Value),
           "Pci.Read");
    return Call_->Value;
  }

  void WriteConfig32(RootBridge &Bridge, uint64_t Address, uint32_t Value) {
    Call_->Value = Value;
    Expect(CallMember(P_, Bridge.Io->Pci.Write, Bridge.Io, EfiPciWidthUint32, Address, 1, &Call_->Value),
           "Pci.Write");
  }

  void ScanBuses(ResAlloc *Alloc, RootBridge &Bridge) {
    const uint64_t Last = std::min<uint64_t>(Bridge.Buses.First + Bridge.Buses.Count, PCI_MAX_BUS + 1);
    for (uint64_t Bus = Bridge.Buses.First; Bus < Last; Bus++) {
      for (uint8_t Device = 0; Device <= PCI_MAX_DEVICE; Device++) {
        ScanDevice(Alloc, Bridge, static_cast<uint8_t>(Bus), Device);
      }
    }
  }

  void ScanDevice(ResAlloc *Alloc, RootBridge &Bridge, uint8_t Bus, uint8_t Device) {
    for (uint8_t Function = 0; Function <= PCI_MAX_FUNC; Function++) {
      Call_->Vendor = NO_DEVICE;
      Expect(CallMember(P_, Bridge.Io->Pci.Read, Bridge.Io, EfiPciWidthUint16,
                        EFI_PCI_ADDRESS(Bus, Device, Function, 0), 1, &Call_->Vendor),
             "Pci.Read");
      if (Call_->Vendor == NO_DEVICE) {
        if (Function == 0) {
          return;
        }
        continue;
      }
      PciFunctionEntry Entry = ReadHeader(Bridge, Bus, Device, Function);
      EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_PCI_ADDRESS Address = {0, Function, Device, Bus, 0};
      Expect(CallMember(P_, Alloc->PreprocessController, Alloc, Bridge.Handle, Address,
                        EfiPciBeforeResourceCollection),
             "PreprocessController");
      const bool MultiFunction = (Entry.HeaderType & HEADER_TYPE_MULTI_FUNCTION) != 0;
      Bridge.Functions.push_back(Result_.Functions.size());
      Result_.Functions.push_back(std::move(Entry));
      if (Function == 0 && !MultiFunction) {
        return;
      }
    }
  }

  PciFunctionEntry ReadHeader(RootBridge &Bridge, uint8_t Bus, uint8_t Device, uint8_t Function) {
    std::memset(&Call_->Header, 0xFF, sizeof(Call_->Header));
    Expect(CallMember(P_, Bridge.Io->Pci.Read, Bridge.Io, EfiPciWidthUint32,
                      EFI_PCI_ADDRESS(Bus, Device, Function, 0), sizeof(Call_->Header) / sizeof(UINT32),
                      &Call_->Header),
           "Pci.Read");
    const PCI_TYPE00 Header = Call_->Header;
    PciFunctionEntry Entry;
    Entry.Segment = Bridge.Io->SegmentNumber;
    Entry.Bus = Bus;
    Entry.Device = Device;
    Entry.Function = Function;
    Entry.VendorId = Header.Hdr.VendorId;
    Entry.DeviceId = Header.Hdr.DeviceId;
    Entry.Command = Header.Hdr.Command;
    Entry.ProgIf = Header.Hdr.ClassCode[PCI_CLASSCODE_PROGRAMMING_INTERFACE];
    Entry.SubClass = Header.Hdr.ClassCode[PCI_CLASSCODE_SUB_CLASS];
    Entry.BaseClass = Header.Hdr.ClassCode[PCI_CLASSCODE_BASE_CLASS];
    Entry.HeaderType = Header.Hdr.HeaderType;
    if ((Entry.HeaderType & HEADER_LAYOUT_CODE) == HEADER_TYPE_DEVICE) {
      SizeBars(Bridge, Entry);
    }
    return Entry;
  }

  static uint64_t BarAddress(const PciFunctionEntry &Entry, unsigned Index) {
    return EFI_PCI_ADDRESS(Entry.Bus, Entry.Device, Entry.Function, PCI_BASE_ADDRESSREG_OFFSET + 4 * Index);
  }

  // All ones, read back, restore: the bits that stay zero give the size.
  uint32_t SizeRegister(RootBridge &Bridge, uint64_t Address, uint32_t *Original) {
    *Original = ReadConfig32(Bridge, Address);
    WriteConfig32(Bridge, Address, ALL_ONES_32);
    const uint32_t Mask = ReadConfig32(Bridge, Address);
    WriteConfig32(Bridge, Address, *Original);
    return Mask;
  }

  void SizeBars(RootBridge &Bridge, PciFunctionEntry &Entry) {
    for (unsigned Index = 0; Index < TYPE0_BARS; Index++) {
      uint32_t Original = 0;
      const uint32_t Mask = SizeRegister(Bridge, BarAddress(Entry, Index), &Original);
      if (Mask == 0) {
        continue; // not implemented
      }
      PciBar Bar;
      Bar.Index = Index;
      Bar.Io = (Mask & PCI_BAR_IO_SPACE) != 0;
      uint64_t SizeMask = Mask & (Bar.Io ? PCI_BAR_IO_ADDRESS_MASK : PCI_BAR_MEM_ADDRESS_MASK);
      uint64_t Address = Original & SizeMask;
      if (!Bar.Io) {
        Bar.Prefetchable = (Mask & PCI_BAR_MEM_PREFETCHABLE) != 0;
        Bar.Memory64 = (Mask & PCI_BAR_MEM_TYPE_MASK) == PCI_BAR_MEM_TYPE_64 && Index + 1 < TYPE0_BARS;
      }
      if (Bar.Memory64) {
        uint32_t OriginalHigh = 0;
        const uint32_t High = SizeRegister(Bridge, BarAddress(Entry, Index + 1), &OriginalHigh);
        SizeMask |= static_cast<uint64_t>(High) << 32;
        Address |= static_cast<uint64_t>(OriginalHigh) << 32;
      }
      // The lowest writable address bit is the size, even when a device's mask has gaps.
      Bar.Size = SizeMask & (~SizeMask + 1);
      Bar.Address = Address;
      Entry.Bars.push_back(Bar);
      Index += Bar.Memory64 ? 1 : 0;
    }
  }

  // The memory the root bridge's functions decode, as one QWORD descriptor and the end tag.
  void SubmitResources(ResAlloc *Alloc, RootBridge &Bridge) {
    uint64_t Length = 0, Alignment = 0;
    for (size_t Index : Bridge.Functions) {
      for (const PciBar &Bar : Result_.Functions[Index].Bars) {
        if (!Bar.Io) {
          Length += Bar.Size;
          Alignment = std::max(Alignment, Bar.Size);
        }
      }
    }
    UINT8 *List = Call_->Resources;
    std::memset(List, 0, sizeof(Call_->Resources));
    EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Memory{};
    Memory.Desc = ACPI_ADDRESS_SPACE_DESCRIPTOR;
    Memory.Len = EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR_LENGTH;
    Memory.ResType = ACPI_ADDRESS_SPACE_TYPE_MEM;
    Memory.AddrSpaceGranularity = 32;
    Memory.AddrRangeMax = Alignment == 0 ? 0 : Alignment - 1;
    Memory.AddrLen = Length;
    std::memcpy(List, &Memory, sizeof(Memory));
    List[DESCRIPTOR_SIZE] = ACPI_END_TAG_DESCRIPTOR;
    Expect(CallMember(P_, Alloc->SubmitResources, Alloc, Bridge.Handle, List), "SubmitResources");
  }

  // Where each memory BAR goes: from the proposed window when the host bridge proposes one,
  // otherwise at the placement the board gives for it.
  void AssignResources(ResAlloc *Alloc, RootBridge &Bridge) {
    Call_->Buffer = nullptr;
    uint64_t Next = 0;
    bool HaveProposal = false;
    const EFI_STATUS Status =
        CallMember(P_, Alloc->GetProposedResources, Alloc, Bridge.Handle, &Call_->Buffer);
    void *Proposed = Call_->Buffer;
    if (Status == EFI_SUCCESS && Proposed != nullptr) {
      for (const auto &Descriptor : ParseDescriptors(Proposed, DESCRIPTOR_LIST_LIMIT)) {
        if (Descriptor.ResType == ACPI_ADDRESS_SPACE_TYPE_MEM) {
          Next = Descriptor.AddrRangeMin;
          HaveProposal = true;
        }
      }
      Bs_->FreePool(Proposed);
    } else if (Status != EFI_UNSUPPORTED) {
      Expect(Status, "GetProposedResources");
    }
    for (size_t Index : Bridge.Functions) {
      PciFunctionEntry &Entry = Result_.Functions[Index];
      for (PciBar &Bar : Entry.Bars) {
        if (Bar.Io) {
          continue;
        }
        std::optional<uint64_t> Target;
        if (HaveProposal) {
          Next = (Next + Bar.Size - 1) & ~(Bar.Size - 1);
          Target = Next;
          Next += Bar.Size;
        } else if (auto Found =
                       Placements_.find({Entry.Segment, Entry.Bus, Entry.Device, Entry.Function, Bar.Index});
                   Found != Placements_.end()) {
          Target = Found->second;
        }
        if (Target) {
          ProgramBar(Bridge, Entry, Bar, *Target);
        }
      }
    }
    CheckWindow(Bridge);
  }

  void ProgramBar(RootBridge &Bridge, const PciFunctionEntry &Entry, PciBar &Bar, uint64_t Target) {
    const uint64_t Register = BarAddress(Entry, Bar.Index);
    WriteConfig32(Bridge, Register, static_cast<uint32_t>(Target));
    uint64_t ReadBack = ReadConfig32(Bridge, Register) & PCI_BAR_MEM_ADDRESS_MASK;
    if (Bar.Memory64) {
      WriteConfig32(Bridge, Register + 4, static_cast<uint32_t>(Target >> 32));
      ReadBack |= static_cast<uint64_t>(ReadConfig32(Bridge, Register + 4)) << 32;
    }
    Bar.Address = ReadBack;
    if (ReadBack != Target) {
      Problem(Location(Entry) + " BAR" + std::to_string(Bar.Index) + " reads 0x" + Hex(ReadBack, 8) +
              " after 0x" + Hex(Target, 8) + " was written");
    }
  }

  // The root bridge's current resources: its memory apertures.
  bool ReadWindows(RootBridge &Bridge) {
    Call_->Buffer = nullptr;
    const EFI_STATUS Status = CallMember(P_, Bridge.Io->Configuration, Bridge.Io, &Call_->Buffer);
    void *Resources = Call_->Buffer;
    if (EFI_ERROR(Status)) {
      Expect(Status, "Configuration");
      return false;
    }
    for (const auto &Descriptor : ParseDescriptors(Resources, DESCRIPTOR_LIST_LIMIT)) {
      if (Descriptor.ResType == ACPI_ADDRESS_SPACE_TYPE_MEM) {
        Bridge.Windows.push_back(Descriptor);
      }
    }
    Bs_->FreePool(Resources);
    return true;
  }

  // Every memory BAR must lie inside a window the root bridge reports.
  void CheckWindow(RootBridge &Bridge) {
    const auto &Windows = Bridge.Windows;
    for (size_t Index : Bridge.Functions) {
      const PciFunctionEntry &Entry = Result_.Functions[Index];
      for (const PciBar &Bar : Entry.Bars) {
        const bool Inside = Bar.Io || std::any_of(Windows.begin(), Windows.end(), [&](const auto &Window) {
                              return Bar.Address >= Window.AddrRangeMin && Bar.Address <= Window.AddrRangeMax;
                            });
        if (!Inside) {
          Problem(Location(Entry) + " BAR" + std::to_string(Bar.Index) + " at 0x" + Hex(Bar.Address, 8) +
                  " lies outside the root bridge's memory window");
        }
      }
    }
  }

  static std::string Location(const PciFunctionEntry &Entry) {
    return Hex(Entry.Segment, 2) + ":" + Hex(Entry.Bus, 2) + ":" + Hex(Entry.Device, 2) + "." +
           Hex(Entry.Function, 1);
  }

  Platform &P_;
  EFI_BOOT_SERVICES *Bs_;
  const PciBarPlacements &Placements_;
  PciEnumeration Result_;
  CallArea *Call_ = nullptr;
};

struct ClassName {
  uint8_t Base, Sub;
  const char *Text;
};

constexpr ClassName CLASS_NAMES[] = {
    {PCI_CLASS_MASS_STORAGE, PCI_CLASS_MASS_STORAGE_SATADPA,
     "Mass Storage Controller - Serial ATA controller"},
    {PCI_CLASS_SERIAL, PCI_CLASS_SERIAL_USB, "Serial Bus Controllers - USB"},
    {PCI_CLASS_DISPLAY, PCI_CLASS_DISPLAY_VGA, "Display Controller - VGA/8514 controller"},
    {PCI_CLASS_BRIDGE, PCI_CLASS_BRIDGE_HOST, "Bridge Device - Host/PCI bridge"},
    {PCI_CLASS_BRIDGE, PCI_CLASS_BRIDGE_P2P, "Bridge Device - PCI/PCI bridge"},
};

std::string ClassText(const PciFunctionEntry &Entry) {
  for (const ClassName &Name : CLASS_NAMES) {
    if (Name.Base == Entry.BaseClass && Name.Sub == Entry.SubClass) {
      return Name.Text;
    }
  }
  return "Class " + Hex(Entry.BaseClass, 2) + " - Subclass " + Hex(Entry.SubClass, 2);
}

std::string BarText(const PciBar &Bar) {
  const char *Kind = Bar.Io ? "I/O" : Bar.Memory64 ? "Mem64" : "Mem32";
  return "BAR" + std::to_string(Bar.Index) + " " + Kind + (Bar.Prefetchable ? " prefetchable" : "") +
         " base 0x" + Hex(Bar.Address, 8) + " size 0x" + Hex(Bar.Size, 8);
}

} // namespace

PciEnumeration EnumeratePci(Platform &P, const PciBarPlacements &Placements, EFI_HANDLE HostBridge) {
  PciEnumeration Result = Enumerator(P, Placements).Run(HostBridge);
  P.Log().Append("pci",
                 "enumerated " + std::to_string(Result.HostBridges) + " host bridge(s), " +
                     std::to_string(Result.RootBridges) + " root bridge(s), " +
                     std::to_string(Result.Functions.size()) + " function(s)\n" +
                     PciListing(Result.Functions),
                 P.VirtualTimeNs());
  for (const std::string &Problem : Result.Problems) {
    P.Log().Append("pci", "problem: " + Problem + "\n", P.VirtualTimeNs());
  }
  return Result;
}

std::string PciListing(const std::vector<PciFunctionEntry> &Functions) {
  std::ostringstream Text;
  Text << "   Seg  Bus  Dev  Func\n   ---  ---  ---  ----\n";
  for (const PciFunctionEntry &Entry : Functions) {
    Text << "    " << Hex(Entry.Segment, 2) << "   " << Hex(Entry.Bus, 2) << "   " << Hex(Entry.Device, 2)
         << "    " << Hex(Entry.Function, 2) << " ==> " << ClassText(Entry) << "\n";
    Text << "             Vendor " << Hex(Entry.VendorId, 4) << " Device " << Hex(Entry.DeviceId, 4)
         << " Prog Interface " << Hex(Entry.ProgIf, 1) << "\n";
    for (const PciBar &Bar : Entry.Bars) {
      Text << "             " << BarText(Bar) << "\n";
    }
  }
  return Text.str();
}

} // namespace host
