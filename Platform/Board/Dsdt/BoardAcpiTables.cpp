// Accessors of the compiled ACPI tables; the byte arrays are generated from the ASL sources.
#include "BoardAcpiTables.h"

namespace host {

std::span<const uint8_t> BoardDsdtAml() {
  return CompiledAml("Dsdt");
}

} // namespace host
