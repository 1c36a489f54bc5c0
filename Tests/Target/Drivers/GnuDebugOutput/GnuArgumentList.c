/* The argument-list handling of a debug-output producer as the board's firmware builds one:
 * compiled by the GNU AArch64 tool chain, so that arguments are read by that compiler's own
 * va_arg from the procedure-call standard's va_list record, and argument lists are made by its
 * own va_start, whatever the images do.
 *
 * Functions without data or calls through symbols: the object converts to COFF without
 * relocations and links into the test driver as it is. */
#include <stdarg.h>
#include <stdint.h>

static void Keep(uint64_t *Slots, uint64_t Capacity, uint64_t *Count, uint64_t Value) {
  if (*Count < Capacity) {
    Slots[*Count] = Value;
  }
  (*Count)++;
}

/* Reads the arguments that Format's directives take (EDK2 print conventions: flags, a width or
 * precision of "*" takes an int, "l" or "L" makes an integer 64-bit), each with va_arg of its
 * type, into one 64-bit slot each. Returns how many Format takes; only the first Capacity are
 * stored. */
uint64_t GnuPrintArguments(const char *Format, va_list Marker, uint64_t *Slots, uint64_t Capacity) {
  uint64_t Count = 0;
  while (*Format != '\0') {
    if (*Format++ != '%') {
      continue;
    }
    int Long = 0;
    for (;; Format++) {
      char Flag = *Format;
      if (Flag == '*') {
        Keep(Slots, Capacity, &Count, (uint32_t)va_arg(Marker, int));
      } else if (Flag == 'l' || Flag == 'L') {
        Long = 1;
      } else if (!(Flag == '-' || Flag == '+' || Flag == ' ' || Flag == ',' || Flag == '.' ||
                   (Flag >= '0' && Flag <= '9'))) {
        break;
      }
    }
    char Conversion = *Format;
    if (Conversion == '\0') {
      break;
    }
    Format++;
    if (Conversion == 'a' || Conversion == 's' || Conversion == 'S' || Conversion == 'g' ||
        Conversion == 't' || Conversion == 'p') {
      Keep(Slots, Capacity, &Count, (uint64_t)(uintptr_t)va_arg(Marker, const void *));
    } else if (Conversion == 'r') {
      Keep(Slots, Capacity, &Count, va_arg(Marker, uint64_t));
    } else if (Conversion == 'c') {
      Keep(Slots, Capacity, &Count, va_arg(Marker, unsigned int));
    } else if (Conversion == 'd' || Conversion == 'i' || Conversion == 'u' || Conversion == 'x' ||
               Conversion == 'X') {
      Keep(Slots, Capacity, &Count, Long ? va_arg(Marker, uint64_t) : va_arg(Marker, unsigned int));
    }
  }
  return Count;
}

typedef uint64_t (*FormatWithList)(char *Buffer, uint64_t Size, const char *Format, va_list Marker);

/* Formats through Formatter with an argument list that this compiler's va_start makes: the
 * arguments that arrived in registers are in its register save area (negative offsets), the
 * others in the stacked slots. */
uint64_t GnuFormat(FormatWithList Formatter, char *Buffer, uint64_t Size, const char *Format, ...) {
  va_list Marker;
  va_start(Marker, Format);
  uint64_t Length = Formatter(Buffer, Size, Format, Marker);
  va_end(Marker);
  return Length;
}
