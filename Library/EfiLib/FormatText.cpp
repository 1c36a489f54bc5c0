// The library's own text formatter, used by the trace path.
#include <Library/EfiLib.h>

namespace {

// Count 0 asks for no limit.
constexpr UINTN NO_LIMIT = ~(UINTN)0;
// Longest converted integer: 20 decimal digits of a 64-bit magnitude and a sign.
constexpr UINTN MAX_INTEGER_TEXT = 21;
// Widths beyond this are clamped; no record is anywhere near so long.
constexpr UINTN MAX_WIDTH = 0xFFFF;

constexpr const CHAR8 *NULL_TEXT = "(null)";
constexpr const CHAR8 *GUID_FORMAT_LOWER = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
constexpr const CHAR8 *GUID_FORMAT_UPPER = "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X";
constexpr const CHAR8 *STATUS_NAME_FORMAT = "%s";
constexpr const CHAR8 *UNNAMED_STATUS_FORMAT = "%s(%X)";
constexpr const CHAR8 *UNNAMED_STATUS_TEXT = "Status Code";

constexpr CHAR8 LowerDigits[] = "0123456789abcdef";
constexpr CHAR8 UpperDigits[] = "0123456789ABCDEF";

// Where the output goes: Remaining counts the characters still allowed, the NUL included,
// so output stops when one is left.
struct TextSink {
  CHAR8 *Out;
  UINTN Remaining;
  UINTN Written;

  bool Full() const { return Remaining == 1; }
  void Put(CHAR8 Character) {
    if (Full()) {
      return;
    }
    *Out++ = Character;
    Written++;
    if (Remaining != NO_LIMIT) {
      Remaining--;
    }
  }
  void PutString(const CHAR8 *Text) {
    for (; *Text != '\0' && !Full(); Text++) {
      Put(*Text);
    }
  }
  // Takes over what a nested FormatText wrote at Out.
  void Advance(UINTN Count) {
    Out += Count;
    Written += Count;
    if (Remaining != NO_LIMIT) {
      Remaining -= Count;
    }
  }
};

// One "%" directive after its flags have been read.
struct Directive {
  CHAR8 Pad = ' ';
  UINTN Width = 0;
  bool Long = false;
};

// Formats into the sink through a nested FormatText on the remaining count.
void PutNested(TextSink &Sink, const CHAR8 *Format, ...) {
  VA_LIST Args;
  VA_START(Args, Format);
  UINTN Count = FormatText(Sink.Out, Sink.Remaining, Format, Args);
  VA_END(Args);
  Sink.Advance(Count);
}

// Writes Text (Length characters) behind enough pad characters to fill the width.
void PutPadded(TextSink &Sink, const Directive &Spec, const CHAR8 *Text, UINTN Length) {
  for (UINTN Pad = Length; Pad < Spec.Width && !Sink.Full(); Pad++) {
    Sink.Put(Spec.Pad);
  }
  for (UINTN Index = 0; Index < Length && !Sink.Full(); Index++) {
    Sink.Put(Text[Index]);
  }
}

// Converts Magnitude in Base behind an optional "-"; returns the length of the text.
UINTN IntegerText(CHAR8 (&Text)[MAX_INTEGER_TEXT], UINT64 Magnitude, UINT32 Base, bool Negative,
                  const CHAR8 *Digits) {
  CHAR8 Reversed[MAX_INTEGER_TEXT];
  UINTN Count = 0;
  do {
    Reversed[Count++] = Digits[Magnitude % Base];
    Magnitude /= Base;
  } while (Magnitude != 0);
  UINTN Length = 0;
  if (Negative) {
    Text[Length++] = '-';
  }
  while (Count > 0) {
    Text[Length++] = Reversed[--Count];
  }
  return Length;
}

void PutSigned(TextSink &Sink, const Directive &Spec, VA_LIST &Args) {
  INT64 Value = Spec.Long ? VA_ARG(Args, INT64) : (INT64)VA_ARG(Args, INT32);
  // The magnitude of the most negative value still fits an unsigned 64-bit integer.
  UINT64 Magnitude = Value < 0 ? (UINT64)0 - (UINT64)Value : (UINT64)Value;
  CHAR8 Text[MAX_INTEGER_TEXT];
  PutPadded(Sink, Spec, Text, IntegerText(Text, Magnitude, 10, Value < 0, LowerDigits));
}

void PutHex(TextSink &Sink, const Directive &Spec, VA_LIST &Args, const CHAR8 *Digits) {
  // Without "l" the argument is 32 bits, so a negative one prints as its 32-bit complement.
  UINT64 Value = Spec.Long ? VA_ARG(Args, UINT64) : (UINT64)VA_ARG(Args, UINT32);
  CHAR8 Text[MAX_INTEGER_TEXT];
  PutPadded(Sink, Spec, Text, IntegerText(Text, Value, 16, false, Digits));
}

void PutAscii(TextSink &Sink, const CHAR8 *Text) {
  Sink.PutString(Text != nullptr ? Text : NULL_TEXT);
}

void PutUnicode(TextSink &Sink, const CHAR16 *Text) {
  if (Text == nullptr) {
    Sink.PutString(NULL_TEXT);
    return;
  }
  for (; *Text != u'\0' && !Sink.Full(); Text++) {
    Sink.Put((CHAR8)(*Text & 0xFF));
  }
}

void PutGuid(TextSink &Sink, const EFI_GUID *Guid, bool Upper) {
  if (Guid == nullptr) {
    Sink.PutString(NULL_TEXT);
    return;
  }
  const UINT8 *D = Guid->Data4;
  PutNested(Sink, Upper ? GUID_FORMAT_UPPER : GUID_FORMAT_LOWER, Guid->Data1, (UINT32)Guid->Data2,
            (UINT32)Guid->Data3, (UINT32)D[0], (UINT32)D[1], (UINT32)D[2], (UINT32)D[3], (UINT32)D[4],
            (UINT32)D[5], (UINT32)D[6], (UINT32)D[7]);
}

void PutStatus(TextSink &Sink, EFI_STATUS Status) {
  const CHAR8 *Name = StatusCodeName(Status);
  if (Name != nullptr) {
    PutNested(Sink, STATUS_NAME_FORMAT, Name);
  } else {
    PutNested(Sink, UNNAMED_STATUS_FORMAT, UNNAMED_STATUS_TEXT, (UINT32)Status);
  }
}

// Reads the flags, width and size of a directive; Format points behind the "%" and is left
// on the conversion character.
Directive ReadDirective(const CHAR8 *&Format, VA_LIST &Args) {
  Directive Spec;
  if (*Format == '0') {
    Spec.Pad = '0';
    Format++;
  }
  if (*Format == '*') {
    INT32 Width = VA_ARG(Args, INT32);
    Spec.Width = Width <= 0 ? 0 : ((UINTN)Width > MAX_WIDTH ? MAX_WIDTH : (UINTN)Width);
    Format++;
  } else {
    for (; *Format >= '0' && *Format <= '9'; Format++) {
      Spec.Width = Spec.Width * 10 + (UINTN)(*Format - '0');
      if (Spec.Width > MAX_WIDTH) {
        Spec.Width = MAX_WIDTH;
      }
    }
  }
  if (*Format == 'l') {
    Spec.Long = true;
    Format++;
  }
  return Spec;
}

// Produces one conversion. An unknown conversion character is copied as ordinary text and
// the directive before it is dropped.
void PutConversion(TextSink &Sink, CHAR8 Conversion, const Directive &Spec, VA_LIST &Args) {
  switch (Conversion) {
  case 's':
  case 'a':
    PutAscii(Sink, VA_ARG(Args, const CHAR8 *));
    break;
  case 'S':
    PutUnicode(Sink, VA_ARG(Args, const CHAR16 *));
    break;
  case 'c':
    Sink.Put((CHAR8)VA_ARG(Args, INT32));
    break;
  case 'g':
  case 'G':
    PutGuid(Sink, VA_ARG(Args, const EFI_GUID *), Conversion == 'G');
    break;
  case 'r':
    PutStatus(Sink, VA_ARG(Args, EFI_STATUS));
    break;
  case 'd':
  case 'i':
    PutSigned(Sink, Spec, Args);
    break;
  case 'x':
  case 'p':
    PutHex(Sink, Spec, Args, LowerDigits);
    break;
  case 'X':
    PutHex(Sink, Spec, Args, UpperDigits);
    break;
  default:
    Sink.Put(Conversion);
    break;
  }
}

} // namespace

UINTN FormatText(CHAR8 *Buffer, UINTN Count, const CHAR8 *Format, VA_LIST Args) {
  if (Buffer == nullptr || Format == nullptr) {
    return FORMAT_TEXT_ERROR;
  }
  VA_LIST Marker;
  VA_COPY(Marker, Args);
  TextSink Sink{Buffer, Count == 0 ? NO_LIMIT : Count, 0};
  while (!Sink.Full() && *Format != '\0') {
    if (*Format != '%') {
      Sink.Put(*Format++);
      continue;
    }
    Format++;
    if (*Format == '%') {
      Sink.Put(*Format++);
      continue;
    }
    Directive Spec = ReadDirective(Format, Marker);
    // A format that ends inside a directive ends the text; nothing past its NUL is read.
    if (*Format == '\0') {
      break;
    }
    PutConversion(Sink, *Format++, Spec, Marker);
  }
  VA_END(Marker);
  *Sink.Out = '\0';
  return Sink.Written;
}
