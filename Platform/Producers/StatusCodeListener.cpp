// Host producer of the status-code runtime protocol.
#include "StatusCodeListener.h"

#include "ProducerRecord.h"

#include <cstring>
#include <memory>

namespace host {
namespace {

// Texts are read from firmware memory only up to this many characters.
constexpr size_t MAX_TEXT_LENGTH = 65536;

std::unique_ptr<StatusCodeListener> gListener;
Platform *gListenerBoard = nullptr;

EFI_STATUS EFIAPI ListenerReportStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value,
                                           UINT32 Instance, EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data) {
  if (gListener == nullptr || gListenerBoard != &Platform::Current()) {
    return EFI_DEVICE_ERROR;
  }
  return gListener->OnReport(Type, Value, Instance, CallerId, Data);
}

} // namespace

EFI_STATUS StatusCodeListener::OnReport(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value,
                                        UINT32 Instance, const EFI_GUID *CallerId,
                                        const EFI_STATUS_CODE_DATA *Data) {
  StatusCodeRecord Entry;
  Entry.Image = Board_.CurrentImageName();
  Entry.Type = Type;
  Entry.Value = Value;
  Entry.Instance = Instance;
  if (CallerId != nullptr) {
    Entry.CallerId = *CallerId;
  }
  if (Data != nullptr) {
    Entry.HasData = true;
    const uint8_t *Bytes = reinterpret_cast<const uint8_t *>(Data);
    size_t RecordSize = size_t(Data->HeaderSize) + Data->Size;
    Entry.Bytes.assign(Bytes, Bytes + RecordSize);
    Entry.Text = DecodeStatusCodeString(Data, MAX_TEXT_LENGTH);
    if (Entry.Text.has_value()) {
      EFI_STATUS_CODE_STRING_DATA Record;
      std::memcpy(&Record, Data, sizeof(Record));
      // Text kept right behind its record is part of the record's bytes.
      if (Record.StringType == EfiStringAscii &&
          reinterpret_cast<const uint8_t *>(Record.String.Ascii) == Bytes + RecordSize) {
        Entry.Bytes.insert(Entry.Bytes.end(), Entry.Text->begin(), Entry.Text->end());
        Entry.Bytes.push_back(0);
      }
      Board_.Log().Append(Entry.Image, *Entry.Text, Board_.VirtualTimeNs());
    }
  }
  Records_.push_back(std::move(Entry));
  return Result_;
}

StatusCodeListener &InstallStatusCodeListener(Platform &Board) {
  gListener = std::make_unique<StatusCodeListener>(Board);
  gListenerBoard = &Board;
  // A runtime protocol: its record stays in the memory the OS keeps.
  gListener->InstallStatus_ = InstallRecord(
      Board, gEfiStatusCodeRuntimeProtocolGuid,
      EFI_STATUS_CODE_RUNTIME_PROTOCOL{Exported(Board, "ReportStatusCode", ListenerReportStatusCode)},
      &gListener->Handle_, EfiRuntimeServicesData);
  return *gListener;
}

} // namespace host
