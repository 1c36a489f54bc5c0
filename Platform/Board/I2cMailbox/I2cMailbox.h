// The board's I2C and management-processor area: the two I2C master controllers (bus 0 and
// bus 1), the EEPROM at 0x53 on bus 1 with its image file, and the mailbox with the
// management processor, which shares bus 1, and its status region.
#pragma once

#include "I2cController.h"
#include "I2cEeprom.h"
#include "ManagementProcessor.h"
#include "StatusRegion.h"

#include <map>
#include <string>

namespace host {

class Board;

// Parses "OFFSET=VALUE[,OFFSET=VALUE...]" into status-region words; false on a bad entry.
bool ParseStatusWords(const std::string &Text, std::map<uint64_t, uint32_t> &Words);

// Runs the application that prints the management processor's firmware report (the firmware
// library's formatter, on the board's mailbox and status region and the EEPROM MAC service
// installed by then): its console lines follow a heading in the board log. Nothing when the
// board has no mailbox.
void LogManagementFirmwareReport(Board &B);

// Writes to the board log how many status polls of each I2C controller found the bus active:
// each cost its caller an idle stall that the bus activity, not a fixed wait, made necessary.
void LogI2cBusyPolls(Board &B);

} // namespace host
