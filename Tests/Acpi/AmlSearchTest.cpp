// The AML object search on tables compiled by iasl: which objects it finds, what it reports
// about them, and that it keeps to the range it is given.
#include "AmlTestTable.h"

namespace {

constexpr char ETHERNET_HID[] = "VEXC0D19";
constexpr char MAC_KEY[] = "local-mac-address";
constexpr size_t MAC_TEXT_CHARS = 17;

// Follows the devices whose path begins with _SB_, each search starting after the segment
// matched before, and returns their own names.
std::vector<std::string> FullPathDevices(AmlTable &Table) {
  std::vector<std::string> Names;
  UINT8 *Start = Table.Body();
  AML_OBJECT_INFO Device;
  while (FindAmlObject(Start, AmlClampLength(Start, Table.End() - Start, Table.End()), "_SB_", AmlDevice,
                       &Device) == EFI_SUCCESS) {
    Names.push_back(Text(Device.DataStart, AML_NAME_SEG_SIZE));
    Start = Device.DataStart;
  }
  return Names;
}

TEST(AmlSearchBoardDsdt, FindsExactlyTheDevicesDeclaredWithFullPaths) {
  AmlTable Dsdt("Dsdt");
  ASSERT_FALSE(Dsdt.Empty());
  std::vector<std::string> Expected = {"ETH0", "ETH1", "ETH2", "ETH3", "PWRB",
                                       "ETH4", "ETH5", "ETH6", "ETH7", "ETH8"};
  EXPECT_EQ(FullPathDevices(Dsdt), Expected);
}

TEST(AmlSearchBoardDsdt, EthernetDevicesCarryTheMacContract) {
  AmlTable Dsdt("Dsdt");
  UINT8 *Start = Dsdt.Body();
  AML_OBJECT_INFO Device;
  unsigned Unit = 0;
  while (FindAmlObject(Start, Dsdt.End() - Start, "_SB_", AmlDevice, &Device) == EFI_SUCCESS) {
    Start = Device.DataStart;
    AML_OBJECT_INFO Hid, Uid, Dsm;
    ASSERT_EQ(Dsdt.FindInside(Device, "_HID", AmlName, &Hid), EFI_SUCCESS);
    if (Text(Hid.DataStart + 1, 8) != ETHERNET_HID) {
      continue;
    }
    SCOPED_TRACE("device " + Text(Device.DataStart, 4));
    ASSERT_EQ(Dsdt.FindInside(Device, "_UID", AmlName, &Uid), EFI_SUCCESS);
    EXPECT_EQ(Uid.DataStart[0], AML_STRING_PREFIX);
    EXPECT_EQ(Uid.DataStart[4], '0' + Unit);
    ASSERT_EQ(Dsdt.FindInside(Device, "_DSM", AmlMethod, &Dsm), EFI_SUCCESS);
    std::string Method = Text(Dsm.DataStart, AmlObjectEnd(&Dsm) - Dsm.DataStart);
    size_t Key = Method.find(MAC_KEY);
    ASSERT_NE(Key, std::string::npos);
    // Key, its NUL, the value's string prefix, then the 17-character placeholder and its NUL.
    EXPECT_EQ(Method.substr(Key + 17, 2), std::string("\0\x0D", 2));
    EXPECT_EQ(Method.substr(Key + 19, MAC_TEXT_CHARS + 1), std::string("00:00:00:00:00:00\0", 18));
    Unit++;
  }
  EXPECT_EQ(Unit, 9u);
}

TEST(AmlSearchBoardDsdt, DeviceLengthReachesExactlyToTheNextDevice) {
  AmlTable Dsdt("Dsdt");
  AML_OBJECT_INFO First, Second;
  ASSERT_EQ(Dsdt.Find("_SB_", AmlDevice, &First), EFI_SUCCESS);
  ASSERT_EQ(FindAmlObject(First.DataStart, Dsdt.End() - First.DataStart, "_SB_", AmlDevice, &Second),
            EFI_SUCCESS);
  // Object is the 0x5B prefix; Name the _SB_ segment behind the root and dual-name prefixes.
  EXPECT_EQ(First.Object[0], AML_EXT_OP);
  EXPECT_EQ(First.Object[1], AML_EXT_DEVICE_OP);
  EXPECT_EQ(First.Name, First.Object + 6);
  EXPECT_EQ(First.Name[-1], AML_DUAL_NAME_PREFIX);
  EXPECT_EQ(First.DataStart, First.Name + 4);
  EXPECT_EQ(First.Type, static_cast<UINT32>(AmlDevice));
  EXPECT_EQ(AmlObjectEnd(&First), Second.Object);
}

TEST(AmlSearchCases, DevicesInsideAScopeOrWithThreeBytePkgLengthAreNotFound) {
  AmlTable Cases("AmlCases");
  // The scoped ETHS and the three-byte BIGD come first in the table; FULL is the first hit.
  EXPECT_EQ(FullPathDevices(Cases), (std::vector<std::string>{"FULL", "LAST"}));

  AML_OBJECT_INFO Big = SentinelInfo();
  const AML_OBJECT_INFO Before = Big;
  UINT8 *BigSeg = std::search(Cases.Body(), Cases.End(), "BIGD", "BIGD" + 4) - 4; // its _SB_ segment
  EXPECT_EQ(FindAmlObject(BigSeg - 8, 16, "_SB_", AmlDevice, &Big), EFI_NOT_FOUND);
  EXPECT_TRUE(SameInfo(Big, Before));
  EXPECT_EQ(BigSeg[-6], AML_EXT_DEVICE_OP); // the opcode is 6 bytes before the segment
}

TEST(AmlSearchCases, ScopeIsFoundAsScopeWithItsRootPrefix) {
  AmlTable Cases("AmlCases");
  AML_OBJECT_INFO Scope;
  ASSERT_EQ(Cases.Find("_SB", AmlScope, &Scope), EFI_SUCCESS);
  EXPECT_EQ(Scope.Object[0], AML_SCOPE_OP);
  EXPECT_EQ(Scope.Name[0], AML_ROOT_CHAR);
  EXPECT_EQ(Text(Scope.Name + 1, 4), "_SB_");
  EXPECT_EQ(Scope.DataStart, Scope.Name + 5);
  EXPECT_EQ(Scope.Length, DecodePkgLength(Scope.Object + 1, nullptr));
  AML_OBJECT_INFO Inner;
  ASSERT_EQ(Cases.FindInside(Scope, "ETHS", AmlDevice, &Inner), EFI_SUCCESS);
  EXPECT_LE(AmlObjectEnd(&Inner), AmlObjectEnd(&Scope));
}

TEST(AmlSearchCases, NameObjectsSkipTheSameSegmentInsideAString) {
  AmlTable Cases("AmlCases");
  AML_OBJECT_INFO Prt;
  ASSERT_EQ(Cases.Find("PRT0", AmlName, &Prt), EFI_SUCCESS);
  const UINT8 *InString = std::search(Cases.Body(), Cases.End(), "PRT0", "PRT0" + 4);
  EXPECT_LT(InString, Prt.Name);
  EXPECT_EQ(Prt.Object, Prt.Name - 1);
  EXPECT_EQ(Prt.Object[0], AML_NAME_OP);
  EXPECT_EQ(Prt.Length, 0u);
  EXPECT_EQ(Prt.DataStart, Prt.Name + 4);
  EXPECT_EQ(Prt.DataStart[0], 0x0B); // WordPrefix 0x1234
  EXPECT_EQ(Prt.DataStart[1] | Prt.DataStart[2] << 8, 0x1234);

  AML_OBJECT_INFO Hid;
  AML_OBJECT_INFO Full;
  ASSERT_EQ(Cases.Find("_SB_", AmlDevice, &Full), EFI_SUCCESS);
  ASSERT_EQ(Cases.FindInside(Full, "_HID", AmlName, &Hid), EFI_SUCCESS);
  EXPECT_EQ(Hid.DataStart[0], AML_STRING_PREFIX);
  EXPECT_EQ(Text(Hid.DataStart + 1, 8), ETHERNET_HID);
}

TEST(AmlSearchCases, MethodsWithOneAndTwoBytePkgLength) {
  AmlTable Cases("AmlCases");
  AML_OBJECT_INFO Small, Large;
  ASSERT_EQ(Cases.Find("SMAL", AmlMethod, &Small), EFI_SUCCESS);
  EXPECT_EQ(Small.Object, Small.Name - 2);
  EXPECT_EQ(Small.Object[0], AML_METHOD_OP);
  EXPECT_EQ(Small.Length, 8u);
  EXPECT_EQ(Small.DataStart, Small.Name + 5); // past the flags byte
  EXPECT_EQ(Small.Name[4], 0x01);             // one argument, not serialized

  ASSERT_EQ(Cases.Find("LARG", AmlMethod, &Large), EFI_SUCCESS);
  EXPECT_EQ(Large.Object, Large.Name - 3);
  EXPECT_EQ(Large.Length, 0x6Eu);
  EXPECT_EQ(AmlObjectEnd(&Small), Large.Object);
  EXPECT_EQ(Large.Type, static_cast<UINT32>(AmlMethod));
}

TEST(AmlSearchCases, OtherKindsSkipTheirFixedFields) {
  AmlTable Cases("AmlCases");
  struct Case {
    const char *Name;
    UINT32 Kind;
    UINTN ObjectToName;
    UINTN FixedBytes;
  };
  for (const Case &C :
       {Case{"GPR0", AmlOperationRegion, 2, 0}, Case{"PRS0", AmlPowerResource, 3, 3},
        Case{"TZ00", AmlThermalZone, 3, 0}, Case{"PR00", AmlProcessor, 3, 6}, Case{"_ON", AmlMethod, 2, 1}}) {
    SCOPED_TRACE(C.Name);
    AML_OBJECT_INFO Info;
    ASSERT_EQ(Cases.Find(C.Name, C.Kind, &Info), EFI_SUCCESS);
    EXPECT_EQ(Info.Name, Info.Object + C.ObjectToName);
    EXPECT_EQ(Info.DataStart, Info.Name + 4 + C.FixedBytes);
    EXPECT_EQ(Info.Type, C.Kind);
    EXPECT_EQ(Info.Length == 0, C.Kind == AmlOperationRegion);
  }
}

TEST(AmlSearchCases, UnsupportedOrWrongKindsFindNothingAndKeepInfo) {
  AmlTable Cases("AmlCases");
  for (UINT32 Kind : {0u, 2u, 10u, 0xFFFFFFFFu, static_cast<UINT32>(AmlMethod)}) {
    AML_OBJECT_INFO Info = SentinelInfo();
    const AML_OBJECT_INFO Before = Info;
    EXPECT_EQ(Cases.Find("PRT0", Kind, &Info), EFI_NOT_FOUND) << Kind;
    EXPECT_TRUE(SameInfo(Info, Before)) << Kind;
  }
}

TEST(AmlSearchBounds, ObjectAtTheEndOfTheTableIsSearchedWithinTheTable) {
  AmlTable Cases("AmlCases");
  AML_OBJECT_INFO Full, Last, Uid;
  ASSERT_EQ(Cases.Find("_SB_", AmlDevice, &Full), EFI_SUCCESS);
  ASSERT_EQ(FindAmlObject(Full.DataStart, Cases.End() - Full.DataStart, "_SB_", AmlDevice, &Last),
            EFI_SUCCESS);
  EXPECT_EQ(AmlObjectEnd(&Last), Cases.End());
  // The object's PkgLength, counted from DataStart, reaches past the table; clamped, it ends there.
  EXPECT_GT(Last.DataStart + Last.Length, Cases.End());
  UINTN Clamped = AmlClampLength(Last.DataStart, Last.Length, Cases.End());
  EXPECT_EQ(Last.DataStart + Clamped, Cases.End());
  ASSERT_EQ(FindAmlObject(Last.DataStart, Clamped, "_UID", AmlName, &Uid), EFI_SUCCESS);
  EXPECT_EQ(Text(Uid.DataStart, 6), std::string("\x0D"
                                                "ETH8\0",
                                                6));
  EXPECT_EQ(AmlClampLength(Cases.End(), 10, Cases.End()), 0u);
  EXPECT_EQ(AmlClampLength(Cases.End() + 1, 10, Cases.End()), 0u);
}

TEST(AmlSearchBounds, SegmentsMustLieWhollyInsideTheRange) {
  AmlTable Cases("AmlCases");
  const UINT32 UidSeg = SIGNATURE_32('_', 'U', 'I', 'D');
  UINT8 *LastUid = Cases.End() - 10; // _UID "ETH8" closes the table: 5F 55 49 44 0D 45 54 48 38 00
  ASSERT_EQ(Text(LastUid, 4), "_UID");
  UINT8 *From = LastUid - 8;
  EXPECT_EQ(FindNameSeg(From, UidSeg, 12), LastUid);
  EXPECT_EQ(FindNameSeg(From, UidSeg, 11), nullptr);
  EXPECT_EQ(FindNameSeg(LastUid, UidSeg, 3), nullptr);
  EXPECT_EQ(FindNameSeg(LastUid, UidSeg, 0), nullptr);

  AML_OBJECT_INFO Info = SentinelInfo();
  EXPECT_EQ(FindAmlObject(From, 11, "_UID", AmlName, &Info), EFI_NOT_FOUND);
  EXPECT_EQ(FindAmlObject(From, 12, "_UID", AmlName, &Info), EFI_SUCCESS);
}

TEST(AmlSearchBounds, OpcodeCheckNeverLooksBeforeTheLowerBound) {
  AmlTable Cases("AmlCases");
  AML_OBJECT_INFO Small;
  ASSERT_EQ(Cases.Find("SMAL", AmlMethod, &Small), EFI_SUCCESS);
  AML_OBJECT_INFO Info = SentinelInfo();
  const AML_OBJECT_INFO Before = Info;
  EXPECT_FALSE(CheckObjectOpcode(Small.Name, AML_METHOD_OP, 0, &Info, Small.Name));
  EXPECT_FALSE(CheckObjectOpcode(Small.Name, AML_METHOD_OP, 0, &Info, Small.Name - 1));
  EXPECT_TRUE(SameInfo(Info, Before));
  EXPECT_TRUE(CheckObjectOpcode(Small.Name, AML_METHOD_OP, 0, &Info, Small.Name - 2));
  EXPECT_EQ(Info.Object, Small.Object);

  // A range that starts at the segment excludes the opcode in front of it.
  EXPECT_EQ(FindAmlObject(Small.Name, 8, "SMAL", AmlMethod, &Info), EFI_NOT_FOUND);

  // An extended opcode needs its prefix byte inside the range too.
  AML_OBJECT_INFO Region;
  ASSERT_EQ(Cases.Find("GPR0", AmlOperationRegion, &Region), EFI_SUCCESS);
  EXPECT_EQ(FindAmlObject(Region.Name - 1, 8, "GPR0", AmlOperationRegion, &Info), EFI_NOT_FOUND);
  EXPECT_EQ(FindAmlObject(Region.Name - 2, 8, "GPR0", AmlOperationRegion, &Info), EFI_SUCCESS);
}

TEST(AmlSearchBounds, ThreeBytePkgLengthDeviceSpansToTheNextObject) {
  AmlTable Cases("AmlCases");
  AML_OBJECT_INFO Big, Region;
  ASSERT_EQ(Cases.Find("BIGD", AmlDevice, &Big), EFI_NOT_FOUND); // its opcode is 10 bytes back
  UINT8 *Object = std::search(Cases.Body(), Cases.End(), "BIGD", "BIGD" + 4) - 11;
  ASSERT_EQ(Object[0], AML_EXT_OP);
  UINT8 Following = 0;
  UINTN Length = DecodePkgLength(Object + 2, &Following);
  EXPECT_EQ(Following, 2);
  ASSERT_EQ(Cases.Find("GPR0", AmlOperationRegion, &Region), EFI_SUCCESS);
  EXPECT_EQ(Object + 2 + Length, Region.Object);
}

} // namespace
