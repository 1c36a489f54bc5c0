// Host producer of the debug-output protocol.
#include "DebugOutput.h"

#include "ProducerRecord.h"

#include <Library/PrintLib.h>

#include <memory>

namespace host {
namespace {

// Longest message text kept; longer ones are cut by the formatter.
constexpr size_t MAX_MESSAGE_BYTES = 8192;

std::unique_ptr<DebugOutputProducer> gDebugOutput;
Platform *gDebugOutputBoard = nullptr;

// The protocol is one record of plain functions without an instance argument, so its members
// find the producer of the platform that is running now.
DebugOutputProducer *ActiveProducer() {
  if (gDebugOutput == nullptr || gDebugOutputBoard != &Platform::Current()) {
    return nullptr;
  }
  return gDebugOutput.get();
}

EFI_STATUS EFIAPI DebugOutputPrint(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker) {
  DebugOutputProducer *Producer = ActiveProducer();
  if (Producer == nullptr || Format == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Producer->OnPrint(ErrorLevel, Format, Marker);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI DebugOutputAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description) {
  DebugOutputProducer *Producer = ActiveProducer();
  if (Producer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Producer->OnAssert(FileName, LineNumber, Description);
  return EFI_SUCCESS;
}

constexpr DEBUG_OUTPUT_PROTOCOL DEBUG_OUTPUT = {DebugOutputPrint, DebugOutputAssert};

std::string OrPlaceholder(const CHAR8 *Text) {
  return Text != nullptr ? std::string(Text) : std::string("(null)");
}

} // namespace

void DebugOutputProducer::OnPrint(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker) {
  std::vector<CHAR8> Buffer(MAX_MESSAGE_BYTES);
  UINTN Length = AsciiVSPrint(Buffer.data(), Buffer.size(), Format, Marker);
  Message Entry{Board_.CurrentImageName(), ErrorLevel, std::string(Buffer.data(), Length)};
  Board_.Log().Append(Entry.Image, Entry.Text, Board_.VirtualTimeNs());
  Messages_.push_back(std::move(Entry));
}

void DebugOutputProducer::OnAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description) {
  Assertion Entry{Board_.CurrentImageName(), OrPlaceholder(FileName), LineNumber, OrPlaceholder(Description)};
  Board_.Log().Append(Entry.Image,
                      "ASSERT " + Entry.FileName + "(" + std::to_string(LineNumber) +
                          "): " + Entry.Description + "\n",
                      Board_.VirtualTimeNs());
  Assertions_.push_back(std::move(Entry));
}

DebugOutputProducer &InstallDebugOutputProducer(Platform &Board) {
  gDebugOutput = std::make_unique<DebugOutputProducer>(Board);
  gDebugOutputBoard = &Board;
  gDebugOutput->InstallStatus_ =
      InstallRecord(Board, gDebugOutputProtocolGuid, DEBUG_OUTPUT, &gDebugOutput->Handle_);
  return *gDebugOutput;
}

} // namespace host
