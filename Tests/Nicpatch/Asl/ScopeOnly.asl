// Ports declared by short names inside Scope(\_SB) only.
DefinitionBlock ("", "DSDT", 2, "TSTBRD", "SCOPEONL", 0x00000001)
{
    Scope (\_SB)
    {
        Device (ETH0)
        {
            Name (_HID, "VEXC0D19")
            Name (_UID, "ETH0")
            Method (_DSM, 4, NotSerialized)
            {
                Return (Package (0x02)
                {
                    "local-mac-address",
                    "00:00:00:00:00:00"
                })
            }
        }

        Device (ETH1)
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

        Device (ETH2)
        {
            Name (_HID, "VEXC0D19")
            Name (_UID, "ETH2")
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

}
