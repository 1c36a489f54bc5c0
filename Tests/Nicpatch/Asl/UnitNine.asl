// A unit digit of 9 between patchable ports.
DefinitionBlock ("", "DSDT", 2, "TSTBRD", "UNITNINE", 0x00000001)
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

    Device (\_SB.ETH9)
    {
        Name (_HID, "VEXC0D19")
        Name (_UID, "ETH9")
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

}
