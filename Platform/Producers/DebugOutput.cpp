// Host producer of the debug-output protocol.
#include "DebugOutput.h"

#include "ProducerRecord.h"

#include <GuestVaList.h>
#include <Library/PrintLib.h>

#include <array>
#include <memory>
#include <utility>

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

// Arguments a message from an image may take: as many as its format asks for are read.
constexpr size_t MAX_GUEST_ARGUMENTS = 24;

// Print as an AArch64 image calls it: Marker is the address of its AAPCS64 argument-list record,
// walked by the standard's rules; the slots, each an integer or pointer of the general-register
// class, go to the formatter as the host's own arguments. A slot outside RAM ends the list.
EFI_STATUS EFIAPI DebugOutputPrintFromImage(UINTN ErrorLevel, const CHAR8 *Format, UINT64 Marker) {
  DebugOutputProducer *Producer = ActiveProducer();
  cpu::Aarch64Cpu *Processor = Platform::Current().Processor();
  if (Producer == nullptr || Format == nullptr || Processor == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::optional<cpu::GuestVaList> List = cpu::GuestVaList::At(Processor->Ram(), Marker);
  if (!List) {
    return EFI_INVALID_PARAMETER;
  }
  std::array<UINT64, MAX_GUEST_ARGUMENTS> Slots{};
  for (UINT64 &Slot : Slots) {
    const std::optional<UINT64> Value = List->Next();
    if (!Value) {
      break;
    }
    Slot = *Value;
  }
  std::vector<CHAR8> Buffer(MAX_MESSAGE_BYTES);
  const UINTN Length = [&]<size_t... Index>(std::index_sequence<Index...>) {
    return AsciiSPrint(Buffer.data(), Buffer.size(), Format, Slots[Index]...);
  }
  (std::make_index_sequence<MAX_GUEST_ARGUMENTS>{});
  Producer->OnText(ErrorLevel, std::string(Buffer.data(), Length));
  return EFI_SUCCESS;
}

// The protocol's record: on the AArch64 processor Print takes the images' argument-list record.
DEBUG_OUTPUT_PROTOCOL DebugOutputRecord(Platform &Board) {
  if (Board.Processor() == nullptr) {
    return {DebugOutputPrint, DebugOutputAssert};
  }
  return {
      reinterpret_cast<DEBUG_OUTPUT_PRINT>(Exported(Board, "DebugOutput.Print", DebugOutputPrintFromImage)),
      Exported(Board, "DebugOutput.Assert", DebugOutputAssert)};
}

std::string OrPlaceholder(const CHAR8 *Text) {
  return Text != nullptr ? std::string(Text) : std::string("(null)");
}

} // namespace

void DebugOutputProducer::OnPrint(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker) {
  std::vector<CHAR8> Buffer(MAX_MESSAGE_BYTES);
  UINTN Length = AsciiVSPrint(Buffer.data(), Buffer.size(), Format, Marker);
  OnText(ErrorLevel, std::string(Buffer.data(), Length));
}

void DebugOutputProducer::OnText(UINTN ErrorLevel, std::string Text) {
  Message Entry{Board_.CurrentImageName(), ErrorLevel, std::move(Text)};
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
      InstallRecord(Board, gDebugOutputProtocolGuid, DebugOutputRecord(Board), &gDebugOutput->Handle_);
  return *gDebugOutput;
}

} // namespace host
