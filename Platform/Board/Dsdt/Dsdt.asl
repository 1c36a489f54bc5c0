/*
 * Differentiated System Description Table of the board: processors, console and debug
 * UARTs, I2C and GPIO controllers, the PCIe host bridge and the nine SoC Ethernet ports.
 * The Ethernet ports carry their MAC address as the "local-mac-address" device property of
 * their _DSM; firmware writes each port's address over the 17-character placeholder before
 * the operating system boots.
 */
DefinitionBlock ("Dsdt.aml", "DSDT", 2, "VEXCEL", "TSLBOARD", 0x00000001)
{
  // SoC Ethernet port 0.
  Device (\_SB.ETH0) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH0")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10600000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 128 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "rgmii" },
            Package () { "max-speed", 1000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }

  // SoC Ethernet port 1.
  Device (\_SB.ETH1) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH1")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10610000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 129 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "rgmii" },
            Package () { "max-speed", 1000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }

  // SoC Ethernet port 2.
  Device (\_SB.ETH2) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH2")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10620000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 130 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "rgmii" },
            Package () { "max-speed", 1000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }

  // SoC Ethernet port 3.
  Device (\_SB.ETH3) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH3")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10630000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 131 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "rgmii" },
            Package () { "max-speed", 1000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }

  Scope (\_SB) {
    Device (CPU0) {
      Name (_HID, "ACPI0007")
      Name (_UID, 0)
      Method (_STA, 0, NotSerialized) {
        Return (0x0F)
      }
    }
    Device (CPU1) {
      Name (_HID, "ACPI0007")
      Name (_UID, 1)
      Method (_STA, 0, NotSerialized) {
        Return (0x0F)
      }
    }
    Device (CPU2) {
      Name (_HID, "ACPI0007")
      Name (_UID, 2)
      Method (_STA, 0, NotSerialized) {
        Return (0x0F)
      }
    }
    Device (CPU3) {
      Name (_HID, "ACPI0007")
      Name (_UID, 3)
      Method (_STA, 0, NotSerialized) {
        Return (0x0F)
      }
    }

    // Console UART (PL011-compatible).
    Device (COM0) {
      Name (_HID, "ARMH0011")
      Name (_UID, Zero)
      Name (_CRS, ResourceTemplate () {
        Memory32Fixed (ReadWrite, 0x1C020000, 0x00001000)
        Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 0x40 }
      })
    }

    // Debug UART.
    Device (COM1) {
      Name (_HID, "ARMH0011")
      Name (_UID, One)
      Name (_CRS, ResourceTemplate () {
        Memory32Fixed (ReadWrite, 0x1C021000, 0x00001000)
        Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 0x41 }
      })
    }

    // GPIO controller.
    Device (GPI0) {
      Name (_HID, "VEXC0A01")
      Name (_UID, Zero)
      Name (_CRS, ResourceTemplate () {
        Memory32Fixed (ReadWrite, 0x10520000, 0x00001000)
        Interrupt (ResourceConsumer, Level, ActiveHigh, Shared) { 0x50 }
      })
    }

    // I2C controllers; the first one carries the board EEPROM at 0x53.
    Device (I2C0) {
      Name (_HID, "VEXC0A12")
      Name (_UID, Zero)
      Name (_CRS, ResourceTemplate () {
        Memory32Fixed (ReadWrite, 0x10511000, 0x00001000)
        Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 0x51 }
      })
      Device (EEP0) {
        Name (_HID, "VEXC0A24")
        Name (_UID, Zero)
        Name (_CRS, ResourceTemplate () {
          I2cSerialBusV2 (0x0053, ControllerInitiated, 100000, AddressingMode7Bit, "\\_SB.I2C0")
        })
      }
    }

    Device (I2C1) {
      Name (_HID, "VEXC0A12")
      Name (_UID, One)
      Name (_CRS, ResourceTemplate () {
        Memory32Fixed (ReadWrite, 0x10512000, 0x00001000)
        Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 0x52 }
      })
    }

    // Management-processor mailbox.
    Device (MBX0) {
      Name (_HID, "VEXC0A40")
      Name (_UID, Zero)
      Name (_CRS, ResourceTemplate () {
        Memory32Fixed (ReadWrite, 0x10540000, 0x00001000)
      })
    }

    // PCIe host bridge: segment 0, buses 0-255, ECAM at 0x40000000.
    Device (PCI0) {
      Name (_HID, EISAID ("PNP0A08"))
      Name (_CID, EISAID ("PNP0A03"))
      Name (_UID, Zero)
      Name (_SEG, Zero)
      Name (_BBN, Zero)
      Name (_CCA, One)
      Name (RBUF, ResourceTemplate () {
        WordBusNumber (ResourceProducer, MinFixed, MaxFixed, PosDecode,
          0x0000, 0x0000, 0x00FF, 0x0000, 0x0100)
        DWordMemory (ResourceProducer, PosDecode, MinFixed, MaxFixed, Cacheable, ReadWrite,
          0x00000000, 0x50000000, 0x5FFFFFFF, 0x00000000, 0x10000000)
        QWordMemory (ResourceProducer, PosDecode, MinFixed, MaxFixed, Prefetchable, ReadWrite,
          0x0000000000000000, 0x0000008000000000, 0x000000FFFFFFFFFF, 0x0000000000000000,
          0x0000008000000000)
      })
      Method (_CRS, 0, NotSerialized) {
        Return (RBUF)
      }
    }
  }

  // Power button as a generic event device.
  Device (\_SB.PWRB) {
    Name (_HID, "PNP0C0C")
    Name (_UID, Zero)
  }

  // SoC Ethernet port 4.
  Device (\_SB.ETH4) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH4")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10640000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 132 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "rgmii" },
            Package () { "max-speed", 1000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }

  // SoC Ethernet port 5.
  Device (\_SB.ETH5) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH5")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10650000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 133 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "rgmii" },
            Package () { "max-speed", 1000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }

  // SoC Ethernet port 6.
  Device (\_SB.ETH6) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH6")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10660000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 134 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "rgmii" },
            Package () { "max-speed", 1000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }

  // SoC Ethernet port 7.
  Device (\_SB.ETH7) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH7")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10670000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 135 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "rgmii" },
            Package () { "max-speed", 1000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }

  // SoC Ethernet port 8.
  Device (\_SB.ETH8) {
    Name (_HID, "VEXC0D19")
    Name (_UID, "ETH8")
    Name (_CCA, One)
    Name (_CRS, ResourceTemplate () {
      Memory32Fixed (ReadWrite, 0x10680000, 0x00010000)
      Interrupt (ResourceConsumer, Level, ActiveHigh, Exclusive) { 136 }
    })
    Method (_STA, 0, NotSerialized) {
      Return (0x0F)
    }
    Method (_DSM, 4, Serialized) {
      If (LEqual (Arg0, ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"))) {
        Return (Package () {
          ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301"),
          Package () {
            Package () { "local-mac-address", "00:00:00:00:00:00" },
            Package () { "phy-mode", "sgmii" },
            Package () { "max-speed", 10000 },
          }
        })
      }
      Return (Buffer (One) { 0x00 })
    }
  }
}
