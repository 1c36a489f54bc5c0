# Helpers that build firmware code for either target.
#
#   firmware_library(<name> SOURCES ... [HOST_SOURCES ...] [AARCH64_SOURCES ...] [LIBRARIES ...])
#       A static library of firmware code. HOST_SOURCES / AARCH64_SOURCES hold the seam
#       variants that differ between the targets.
#   firmware_module(<name> DRIVER|APPLICATION SOURCES ... LIBRARIES ...
#                   [ENTRY <function> UEFI_REVISION <value>
#                    [CONSTRUCTORS <function>...] [DESTRUCTORS <function>...]])
#       One UEFI image: <name>.efi (PE32+, AArch64) or, on the host, <name>.so in
#       ${FIRMWARE_MODULE_DIR}, loaded by the emulated core with its own globals. The host
#       build also gets <name>Objects, a static library of the module's code for unit tests.
#
#       With ENTRY, the module's wiring is generated at configure time, as a UEFI build's
#       autogen step does, into <build>/<name>AutoGen.cpp: ProcessLibraryConstructorList calls
#       the CONSTRUCTORS in the order given (list them in the order their libraries must be
#       set up) and stops at the first that fails, returning its status (the entry then does
#       not run), ProcessModuleEntryPointList returns ENTRY's status, ProcessLibraryDestructorList
#       calls the DESTRUCTORS, and _gUefiDriverRevision is UEFI_REVISION (0 accepts any system
#       table). Every constructor, destructor and entry has the standard image signature
#       EFI_STATUS (EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable); the status of a
#       destructor is not acted upon. A module without ENTRY brings its own wiring (a test of
#       the entry libraries does).

set(FIRMWARE_MODULE_DIR "${CMAKE_BINARY_DIR}/modules")

# Module globals are constant-initialised: a dynamic initialiser would run on the host but never
# in a real image (nothing calls it there), so clang refuses it outright. g++ has no such
# warning; the image checks reject any initialiser section that reaches an image.
set(FIRMWARE_COMMON_FLAGS
    -std=c++20 -ffreestanding -nostdinc++ -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -Wall -Wextra -Werror -Wno-unused-parameter $<$<CXX_COMPILER_ID:Clang>:-Wglobal-constructors>)

if(FIRMWARE_TARGET STREQUAL "aarch64")
  # Built for size (the images live in small firmware volumes). No floating point or SIMD
  # registers (firmware does not save them), no unaligned accesses (with the MMU off all memory
  # is device memory, where one faults; Slabsize runs there after ExitBootServices), and every
  # object marks its image with how it was compiled for alignment (AlignmentMark.h, for the
  # image checks). No stack probes or cookies (no C runtime), one section per function so that
  # /opt:ref drops what is unused.
  set(FIRMWARE_TARGET_FLAGS -Oz -mgeneral-regs-only -mstrict-align
                            -include ${PROJECT_SOURCE_DIR}/Include/AArch64/AlignmentMark.h -fno-stack-protector
                            -mno-stack-arg-probe -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
  # A UEFI image is relocatable (/dynamicbase keeps the base relocations), imports nothing
  # (/nodefaultlib) and enters at the entry library's _ModuleEntryPoint. Sections keep the
  # linker's default 4 KiB alignment, so the firmware can protect them page by page. Linker
  # warnings, an unknown library among them, are errors.
  set(CMAKE_CXX_LINK_EXECUTABLE
      "${LLD_LINK} /nologo /nodefaultlib /machine:arm64 /entry:_ModuleEntryPoint /dynamicbase /debug:none /opt:ref /WX <LINK_FLAGS> <OBJECTS> <LINK_LIBRARIES> /out:<TARGET>")
else()
  # Position-independent for the module shared objects; unwind tables so that a halt raised
  # by the host platform can unwind through firmware frames back to the harness. Optimised
  # builds vectorise loops that need a run-time overlap check, such as Blt's pixel conversion
  # (GCC's -O2 default leaves it scalar, six instructions a pixel, below memory speed).
  set(FIRMWARE_TARGET_FLAGS -fPIC -fasynchronous-unwind-tables -g -fvect-cost-model=dynamic)
endif()

if(HOST_SANITIZE)
  set(HOST_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_compile_options(${HOST_SANITIZER_FLAGS})
  add_link_options(${HOST_SANITIZER_FLAGS})
endif()

function(_firmware_compile_options target)
  target_compile_options(${target} PRIVATE ${FIRMWARE_COMMON_FLAGS} ${FIRMWARE_TARGET_FLAGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/Include)
endfunction()

function(firmware_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HOST_SOURCES;AARCH64_SOURCES;LIBRARIES" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(FIRMWARE_TARGET STREQUAL "aarch64")
    list(APPEND sources ${ARG_AARCH64_SOURCES})
  else()
    list(APPEND sources ${ARG_HOST_SOURCES})
  endif()
  add_library(${name} STATIC ${sources})
  _firmware_compile_options(${name})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  if(ARG_LIBRARIES)
    target_link_libraries(${name} PUBLIC ${ARG_LIBRARIES})
  endif()
endfunction()

# Writes the wiring of module <name> (see firmware_module) and returns its path in out_var.
function(_firmware_module_wiring name out_var entry revision constructors destructors)
  set(signature "EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable")
  set(declarations "")
  set(constructor_calls "")
  set(destructor_calls "")
  foreach(function ${constructors} ${destructors} ${entry})
    string(APPEND declarations "EFI_STATUS EFIAPI ${function}(${signature});\n")
  endforeach()
  foreach(function ${constructors})
    string(APPEND constructor_calls "  Status = ${function}(ImageHandle, SystemTable);\n"
                                    "  if (EFI_ERROR(Status)) {\n    return Status;\n  }\n")
  endforeach()
  foreach(function ${destructors})
    string(APPEND destructor_calls "  ${function}(ImageHandle, SystemTable);\n")
  endforeach()
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${name}AutoGen.cpp)
  file(CONFIGURE OUTPUT ${file} @ONLY CONTENT
"// Wiring of ${name}, generated by firmware_module() from its build declaration.
#include <Library/ModuleEntryPoint.h>

${declarations}
const UINT32 _gUefiDriverRevision = ${revision};

EFI_STATUS ProcessLibraryConstructorList(${signature}) {
  EFI_STATUS Status = EFI_SUCCESS;
${constructor_calls}  return Status;
}

EFI_STATUS ProcessModuleEntryPointList(${signature}) {
  return ${entry}(ImageHandle, SystemTable);
}

VOID ProcessLibraryDestructorList(${signature}) {
${destructor_calls}}
")
  set(${out_var} ${file} PARENT_SCOPE)
endfunction()

function(firmware_module name kind)
  cmake_parse_arguments(ARG "" "ENTRY;UEFI_REVISION" "SOURCES;LIBRARIES;CONSTRUCTORS;DESTRUCTORS" ${ARGN})
  if(kind STREQUAL "DRIVER")
    set(subsystem efi_boot_service_driver)
    set(entry_library UefiDriverEntryPoint)
  elseif(kind STREQUAL "APPLICATION")
    set(subsystem efi_application)
    set(entry_library UefiApplicationEntryPoint)
  else()
    message(FATAL_ERROR "firmware_module(${name}): kind must be DRIVER or APPLICATION")
  endif()
  if(ARG_ENTRY)
    # No default revision: a module states which system tables it accepts.
    if(NOT DEFINED ARG_UEFI_REVISION)
      message(FATAL_ERROR "firmware_module(${name}): ENTRY needs UEFI_REVISION")
    endif()
    _firmware_module_wiring(${name} wiring ${ARG_ENTRY} ${ARG_UEFI_REVISION} "${ARG_CONSTRUCTORS}"
                            "${ARG_DESTRUCTORS}")
    list(APPEND ARG_SOURCES ${wiring})
  elseif(ARG_CONSTRUCTORS OR ARG_DESTRUCTORS OR DEFINED ARG_UEFI_REVISION)
    message(FATAL_ERROR "firmware_module(${name}): CONSTRUCTORS, DESTRUCTORS and UEFI_REVISION need ENTRY")
  endif()

  if(FIRMWARE_TARGET STREQUAL "aarch64")
    add_executable(${name} ${ARG_SOURCES})
    _firmware_compile_options(${name})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${entry_library} ${ARG_LIBRARIES})
    target_link_options(${name} PRIVATE /subsystem:${subsystem})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${FIRMWARE_MODULE_DIR} SUFFIX ".efi")
    file(GENERATE OUTPUT ${FIRMWARE_MODULE_DIR}/${name}.kind CONTENT "${kind}\n")
  else()
    add_library(${name}Objects STATIC ${ARG_SOURCES})
    _firmware_compile_options(${name}Objects)
    target_include_directories(${name}Objects PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name}Objects PUBLIC ${entry_library} ${ARG_LIBRARIES})

    # The module exports its entry point only and binds every other symbol to its own copy,
    # the way a separate UEFI image has its own globals.
    add_library(${name} MODULE $<TARGET_OBJECTS:${name}Objects>)
    target_link_libraries(${name} PRIVATE -Wl,--start-group ${entry_library} ${ARG_LIBRARIES} -Wl,--end-group)
    # The entry point lives in the entry library: ask for it, or nothing pulls it in.
    target_link_options(${name} PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/HostModule.map
                        -Wl,-Bsymbolic -Wl,--undefined=_ModuleEntryPoint)
    set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${FIRMWARE_MODULE_DIR})
    # The host core reads the image kind here: an application is unloaded when it returns.
    file(GENERATE OUTPUT ${FIRMWARE_MODULE_DIR}/${name}.kind CONTENT "${kind}\n")
    # Whole-board tests depend on every module.
    set_property(GLOBAL APPEND PROPERTY FIRMWARE_HOST_MODULES ${name})
  endif()
endfunction()

# Adds every direct subfolder of the current folder that has a CMakeLists.txt, so that new
# libraries, modules and test folders join the build without touching a shared list.
function(add_all_subdirectories)
  file(GLOB children CONFIGURE_DEPENDS LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
