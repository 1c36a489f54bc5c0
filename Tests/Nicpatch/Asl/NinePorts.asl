// Nine SoC Ethernet ports below \_SB, with devices the walk must skip.
DefinitionBlock ("", "DSDT", 2, "TSTBRD", "NINEPORT", 0x00000001)
{
    Scope (\_SB)
    {
        Device (UAR0)
        {
            Name (_HID, "ARMH0011")
            Name (_UID, Zero)
        }

        // A port declared by its short name inside a scope: not a "_SB_" path, never visited.
        Device (ETHS)
        {
            Name (_HID, "VEXC0D19")
            Name (_UID, "ETH1")
            Method (_DSM, 4, NotSerialized)
            {
                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }
        }
    }

    Device (\_SB.ETH0)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH0")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10600000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETH1)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH1")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10610000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETH2)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH2")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10620000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETH3)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH3")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10630000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETH4)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH4")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10640000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETH5)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH5")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10650000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETH6)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH6")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10660000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETH7)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH7")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10670000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETH8)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH8")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10680000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.GPI0)
    {
        Name (_HID, "VEXC0D20")
        Name (_UID, "GPI0")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10600000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

    Device (\_SB.ETHN)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH3")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10600000, 0x00010000)
        })
    }

    Device (\_SB.ETHK)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH4")
        Name (_CCA, One)
        Name (_CRS, ResourceTemplate ()
        {
            Memory32Fixed (ReadWrite, 0x10600000, 0x00010000)
        })
        Method (_DSM, 4, NotSerialized)
        {
            If ((Arg0 == ToUUID ("daffd814-6eba-4d8c-8a91-bc9bbf4aa301")))
            {
                If ((Arg2 == Zero))
                {
                    Return (Buffer (One) { 0x03 })
                }

                Return (Package (0x02)
                {
                    "other-property-key",
                    "00:00:00:00:00:00"
                })
            }

            Return (Buffer (One) { 0x00 })
        }
    }

}
