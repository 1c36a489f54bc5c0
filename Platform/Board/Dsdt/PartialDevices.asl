/*
 * SoC Ethernet devices that lack parts of the MAC contract, in table order: a complete port,
 * one without _DSM, one whose _DSM has no local-mac-address, one with another _HID, one
 * without _UID, one with unit digit 9, and a complete port after it.
 */
DefinitionBlock ("PartialDevices.aml", "DSDT", 2, "VEXCEL", "PARTIAL", 0x00000001)
{
  // Unit 0, complete.
  Device (\_SB.ETH0) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH0")
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }
  // Unit 1 without a _DSM method.
  Device (\_SB.ETH1) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH1")
  }
  // Unit 2 whose _DSM has no local-mac-address entry.
  Device (\_SB.ETH2) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH2")
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "phy-mode", "rgmii" },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }
  // Unit 3 with another _HID: not an Ethernet port of this SoC.
  Device (\_SB.ETH3) {
    Name (_HID, "VEXC0D20")
    Name (_UID, "ETH3")
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }
  // Unit 4 without a _UID.
  Device (\_SB.ETH4) {
    Name (_HID, "VEXC0D19")
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }
  // Unit 9: out of range.
  Device (\_SB.ETH9) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH9")
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }
  // Unit 5, after the out-of-range unit.
  Device (\_SB.ETH5) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH5")
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }
}
