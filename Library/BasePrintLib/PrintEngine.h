// The formatter behind every print function: one template over the output character type
// and the format character type.
#pragma once

#include <Library/PrintLib.h>

namespace PrintInternal {

enum PrintFlag : UINT32 {
  FlagLeftJustify = 1u << 0,
  FlagSign = 1u << 1,
  FlagBlank = 1u << 2,
  FlagZeroFill = 1u << 3,
  FlagComma = 1u << 4,
  FlagLong = 1u << 5,
  FlagPrecision = 1u << 6,
};

struct Directive {
  UINT32 Flags = 0;
  UINTN Width = 0;
  UINTN Precision = 0;
};

// The argument list, wrapped so helpers can share it by reference on every ABI.
struct ArgumentList {
  VA_LIST Marker;
};

// Characters that do not fit an 8-bit output are shown as this.
constexpr UINT32 UnprintableNarrow = '?';

// Writes at most Capacity - 1 characters and always leaves the text NUL-terminated.
template <typename OutChar> class OutputText {
public:
  OutputText(OutChar *Buffer, UINTN Capacity) : Buffer_(Buffer), Limit_(Capacity - 1) {}

  bool Full() const { return Count_ >= Limit_; }

  void Put(UINT32 Character) {
    if (Full()) {
      return;
    }
    if (sizeof(OutChar) == 1 && Character > 0xFF) {
      Character = UnprintableNarrow;
    }
    Buffer_[Count_++] = static_cast<OutChar>(Character);
  }

  void Repeat(UINT32 Character, UINTN Times) {
    for (UINTN Index = 0; Index < Times && !Full(); Index++) {
      Put(Character);
    }
  }

  UINTN Finish() {
    Buffer_[Count_] = 0;
    return Count_;
  }

private:
  OutChar *Buffer_;
  UINTN Limit_;
  UINTN Count_ = 0;
};

// Converted text that is not a caller's string (numbers, GUIDs, status values, times).
struct ScratchText {
  static constexpr UINTN Capacity = 48;
  CHAR8 Text[Capacity] = {};
  UINTN Length = 0;

  void Append(CHAR8 Character) {
    if (Length + 1 < Capacity) {
      Text[Length++] = Character;
      Text[Length] = 0;
    }
  }
};

// Appends Value in hexadecimal with exactly Digits digits.
void AppendHex(ScratchText &Scratch, UINT64 Value, UINTN Digits, bool UpperCase);
// Appends Value in decimal, zero-filled to at least Digits digits.
void AppendDecimal(ScratchText &Scratch, UINT64 Value, UINTN Digits);
void FormatGuid(ScratchText &Scratch, const EFI_GUID *Guid);
void FormatStatus(ScratchText &Scratch, EFI_STATUS Status);
void FormatTime(ScratchText &Scratch, const EFI_TIME *Time);
// Digits of Magnitude (with precision zeros and thousands separators), without sign.
void FormatMagnitude(ScratchText &Scratch, UINT64 Magnitude, UINT32 Radix, bool UpperCase,
                     const Directive &Spec);

// A caller's text of 8-bit or 16-bit characters. Every string conversion (%a, %s, %c and the
// converted scratch texts) goes through one EmitString whatever the width, so an image carries
// the padding and precision code once.
struct TextView {
  const VOID *Text;
  bool Wide;

  UINT32 At(UINTN Index) const {
    return Wide ? static_cast<const CHAR16 *>(Text)[Index] : static_cast<const UINT8 *>(Text)[Index];
  }
};

inline TextView TextOf(const CHAR8 *Text) {
  return {Text, false};
}
inline TextView TextOf(const CHAR16 *Text) {
  return {Text, true};
}

// The precision is checked before the character: "%.4a" may name a buffer of exactly four
// characters with no terminator, and nothing past it is read.
inline UINTN BoundedLength(TextView Text, const Directive &Spec) {
  UINTN Length = 0;
  while (((Spec.Flags & FlagPrecision) == 0 || Length < Spec.Precision) && Text.At(Length) != 0) {
    Length++;
  }
  return Length;
}

// A string padded with blanks to the width; precision cuts it.
template <typename OutChar> void EmitString(OutputText<OutChar> &Out, const Directive &Spec, TextView Text) {
  if (Text.Text == NULL) {
    static constexpr CHAR8 NullString[] = "<null string>";
    EmitString(Out, Directive{Spec.Flags & FlagLeftJustify, Spec.Width, 0}, TextOf(NullString));
    return;
  }
  UINTN Length = BoundedLength(Text, Spec);
  UINTN Pad = Spec.Width > Length ? Spec.Width - Length : 0;
  if ((Spec.Flags & FlagLeftJustify) == 0) {
    Out.Repeat(' ', Pad);
  }
  for (UINTN Index = 0; Index < Length && !Out.Full(); Index++) {
    Out.Put(Text.At(Index));
  }
  if ((Spec.Flags & FlagLeftJustify) != 0) {
    Out.Repeat(' ', Pad);
  }
}

// A number: sign or blank prefix, then digits, padded to the width with blanks in front
// (or behind when left-justified) or with zeros between the sign and the digits.
template <typename OutChar>
void EmitNumber(OutputText<OutChar> &Out, const Directive &Spec, UINT64 Magnitude, bool Negative, bool Signed,
                UINT32 Radix, bool UpperCase) {
  ScratchText Digits;
  FormatMagnitude(Digits, Magnitude, Radix, UpperCase, Spec);
  CHAR8 Prefix = 0;
  if (Negative) {
    Prefix = '-';
  } else if (Signed && (Spec.Flags & FlagSign) != 0) {
    Prefix = '+';
  } else if (Signed && (Spec.Flags & FlagBlank) != 0) {
    Prefix = ' ';
  }
  UINTN Length = Digits.Length + (Prefix != 0 ? 1 : 0);
  UINTN Pad = Spec.Width > Length ? Spec.Width - Length : 0;
  bool ZeroFill = (Spec.Flags & (FlagZeroFill | FlagLeftJustify | FlagPrecision)) == FlagZeroFill;
  if (!ZeroFill && (Spec.Flags & FlagLeftJustify) == 0) {
    Out.Repeat(' ', Pad);
  }
  if (Prefix != 0) {
    Out.Put(static_cast<UINT8>(Prefix));
  }
  if (ZeroFill) {
    Out.Repeat('0', Pad);
  }
  for (UINTN Index = 0; Index < Digits.Length; Index++) {
    Out.Put(static_cast<UINT8>(Digits.Text[Index]));
  }
  if ((Spec.Flags & FlagLeftJustify) != 0) {
    Out.Repeat(' ', Pad);
  }
}

// Reads the flags, width, precision and size prefix after '%'; returns the conversion
// character's position.
template <typename FmtChar>
const FmtChar *ParseDirective(const FmtChar *Format, ArgumentList &Args, Directive &Spec) {
  for (;; Format++) {
    UINTN &Field = (Spec.Flags & FlagPrecision) != 0 ? Spec.Precision : Spec.Width;
    switch (*Format) {
    case '-':
      Spec.Flags |= FlagLeftJustify;
      break;
    case '+':
      Spec.Flags |= FlagSign;
      break;
    case ' ':
      Spec.Flags |= FlagBlank;
      break;
    case ',':
      Spec.Flags |= FlagComma;
      break;
    case 'l':
    case 'L':
      Spec.Flags |= FlagLong;
      break;
    case '.':
      Spec.Flags |= FlagPrecision;
      break;
    case '*': {
      INT64 Value = VA_ARG(Args.Marker, INT32);
      if (Value < 0 && (Spec.Flags & FlagPrecision) == 0) {
        Spec.Flags |= FlagLeftJustify;
        Value = -Value;
      }
      Field = Value < 0 ? 0 : static_cast<UINTN>(Value);
      break;
    }
    case '0':
      if ((Spec.Flags & FlagPrecision) == 0 && Spec.Width == 0) {
        Spec.Flags |= FlagZeroFill;
        break;
      }
      [[fallthrough]];
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      Field = 0;
      for (; *Format >= '0' && *Format <= '9'; Format++) {
        Field = Field * 10 + static_cast<UINTN>(*Format - '0');
      }
      Format--;
      break;
    default:
      return Format;
    }
  }
}

template <typename OutChar>
void EmitInteger(OutputText<OutChar> &Out, Directive Spec, UINT32 Conversion, ArgumentList &Args) {
  bool Long = (Spec.Flags & FlagLong) != 0;
  UINT64 Raw = Long ? VA_ARG(Args.Marker, UINT64) : VA_ARG(Args.Marker, UINT32);
  switch (Conversion) {
  case 'd':
  case 'i': {
    INT64 Value = Long ? static_cast<INT64>(Raw) : static_cast<INT64>(static_cast<INT32>(Raw));
    UINT64 Magnitude = Value < 0 ? 0 - static_cast<UINT64>(Value) : static_cast<UINT64>(Value);
    EmitNumber(Out, Spec, Magnitude, Value < 0, true, 10, false);
    return;
  }
  case 'u':
    EmitNumber(Out, Spec, Raw, false, false, 10, false);
    return;
  case 'X':
    Spec.Flags |= FlagZeroFill;
    [[fallthrough]];
  default:
    Spec.Flags &= ~FlagComma;
    EmitNumber(Out, Spec, Raw, false, false, 16, Conversion == 'X');
    return;
  }
}

template <typename OutChar>
void EmitScratch(OutputText<OutChar> &Out, const Directive &Spec, const ScratchText &Text) {
  EmitString(Out, Directive{Spec.Flags & FlagLeftJustify, Spec.Width, 0}, TextOf(Text.Text));
}

// One conversion. Unknown conversion characters are copied as text.
template <typename OutChar>
void EmitConversion(OutputText<OutChar> &Out, const Directive &Spec, UINT32 Conversion, ArgumentList &Args) {
  constexpr UINTN PointerDigits = sizeof(VOID *) * 2;
  ScratchText Scratch;
  switch (Conversion) {
  case 'a':
    EmitString(Out, Spec, TextOf(VA_ARG(Args.Marker, const CHAR8 *)));
    return;
  case 's':
  case 'S':
    EmitString(Out, Spec, TextOf(VA_ARG(Args.Marker, const CHAR16 *)));
    return;
  case 'c': {
    CHAR16 Character[2] = {static_cast<CHAR16>(VA_ARG(Args.Marker, UINT32)), 0};
    EmitString(Out, Directive{Spec.Flags & FlagLeftJustify, Spec.Width, 0}, TextOf(Character));
    return;
  }
  case 'd':
  case 'i':
  case 'u':
  case 'x':
  case 'X':
    EmitInteger(Out, Spec, Conversion, Args);
    return;
  case 'p':
    AppendHex(Scratch, reinterpret_cast<UINTN>(VA_ARG(Args.Marker, VOID *)), PointerDigits, true);
    break;
  case 'g':
    FormatGuid(Scratch, VA_ARG(Args.Marker, const EFI_GUID *));
    break;
  case 'r':
    FormatStatus(Scratch, VA_ARG(Args.Marker, EFI_STATUS));
    break;
  case 't':
    FormatTime(Scratch, VA_ARG(Args.Marker, const EFI_TIME *));
    break;
  default:
    Out.Put(Conversion);
    return;
  }
  EmitScratch(Out, Spec, Scratch);
}

// BufferSize counts bytes, the terminating NUL included; the result counts characters
// written without the NUL.
template <typename OutChar, typename FmtChar>
UINTN FormatText(OutChar *Buffer, UINTN BufferSize, const FmtChar *Format, VA_LIST Marker) {
  if (Buffer == NULL || BufferSize < sizeof(OutChar)) {
    return 0;
  }
  OutputText<OutChar> Out(Buffer, BufferSize / sizeof(OutChar));
  if (Format == NULL) {
    return Out.Finish();
  }
  ArgumentList Args;
  VA_COPY(Args.Marker, Marker);
  while (*Format != 0 && !Out.Full()) {
    if (*Format != '%') {
      Out.Put(static_cast<UINT32>(static_cast<UINT32>(*Format) & (sizeof(FmtChar) == 1 ? 0xFFu : 0xFFFFu)));
      Format++;
      continue;
    }
    Directive Spec;
    Format = ParseDirective(Format + 1, Args, Spec);
    if (*Format == 0) {
      break;
    }
    if (*Format == '%') {
      Out.Put('%');
    } else {
      EmitConversion(Out, Spec, static_cast<UINT32>(*Format), Args);
    }
    Format++;
  }
  VA_END(Args.Marker);
  return Out.Finish();
}

} // namespace PrintInternal
