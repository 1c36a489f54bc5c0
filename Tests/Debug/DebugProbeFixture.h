// Runs test scripts inside a fresh load of the DebugProbe module on the emulated board.
#pragma once

#include "DebugProbe.h"

#include <Board.h>
#include <DebugOutput.h>
#include <HostPlatform.h>
#include <StatusCodeListener.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

class DebugProbeTest : public ::testing::Test {
public:
  using Script = std::function<EFI_STATUS(const DEBUG_PROBE_FUNCTIONS &)>;

protected:
  void SetUp() override;
  void TearDown() override;

  // Builds the board with these options (by default without the debug-output and status-code
  // protocols) and installs the probe's protocol. RunProbe builds the default board if no
  // board was built yet.
  void Boot(std::map<std::string, std::string> Settings = {{"no-debug-output", ""}, {"no-status-codes", ""}});
  host::DebugOutputProducer &BootWithDebugOutput();
  host::StatusCodeListener &BootWithStatusCodes();
  // Loads DebugProbe and runs Body inside its entry point.
  host::ImageResult RunProbe(Script Body);
  // LocateProtocol calls for the debug-output and status-code protocols since SetUp.
  int DebugOutputLookups() const;
  int StatusCodeLookups() const;
  // Changes the task priority of the board and returns the previous one.
  EFI_TPL RaiseTpl(EFI_TPL Tpl);
  void RestoreTpl(EFI_TPL Tpl);

  std::unique_ptr<host::Platform> Board;
  std::unique_ptr<host::Board> Built;
};
