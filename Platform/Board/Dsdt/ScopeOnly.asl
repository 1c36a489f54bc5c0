/*
 * The nine SoC Ethernet devices declared inside Scope (\_SB) by their short names, so no
 * Device object has a path that begins with the _SB_ segment.
 */
DefinitionBlock ("ScopeOnly.aml", "DSDT", 2, "VEXCEL", "SCOPEONL", 0x00000001)
{
  Scope (\_SB) {
    Device (ETH0) {
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
    Device (ETH1) {
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
    Device (ETH2) {
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
    Device (ETH3) {
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
    Device (ETH4) {
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
    Device (ETH5) {
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
    Device (ETH6) {
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
    Device (ETH7) {
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
    Device (ETH8) {
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
  }
}
