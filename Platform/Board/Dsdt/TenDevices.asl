/*
 * Ten SoC Ethernet devices declared with full paths below \_SB: units 0 to 8 and a tenth
 * that repeats unit 0.
 */
DefinitionBlock ("TenDevices.aml", "DSDT", 2, "VEXCEL", "TENDEVS", 0x00000001)
{
  Device (\_SB.ET00) {
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
  Device (\_SB.ET01) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH1")
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
  Device (\_SB.ET02) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH2")
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
  Device (\_SB.ET03) {
    Name (_HID, "VEXC0D19")
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
  Device (\_SB.ET04) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH4")
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
  Device (\_SB.ET05) {
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
  Device (\_SB.ET06) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH6")
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
  Device (\_SB.ET07) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH7")
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
  Device (\_SB.ET08) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH8")
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
  // A tenth port, repeating unit 0.
  Device (\_SB.ET09) {
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
}
