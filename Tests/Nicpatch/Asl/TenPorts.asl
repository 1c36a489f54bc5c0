// Ten matching ports: the tenth (unit 0 again) must stay unpatched.
DefinitionBlock ("", "DSDT", 2, "TSTBRD", "TENPORTS", 0x00000001)
{
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

    Device (\_SB.ETH2)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH2")
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

    Device (\_SB.ETH3)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH3")
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

    Device (\_SB.ETH4)
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

    Device (\_SB.ETH6)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH6")
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

    Device (\_SB.ETH7)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH7")
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

    Device (\_SB.ETH8)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH8")
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

    Device (\_SB.ETHT)
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

}
