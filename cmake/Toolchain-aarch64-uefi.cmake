# Cross toolchain for AArch64 UEFI images: clang emits COFF objects for the Windows ARM64 ABI
# (the UEFI ABI on AArch64) and lld-link writes PE32+ images with an EFI subsystem.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(UEFI_AARCH64_TRIPLE aarch64-unknown-windows)
set(CMAKE_C_COMPILER_TARGET ${UEFI_AARCH64_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${UEFI_AARCH64_TRIPLE})
# The Generic platform does not turn the compiler target into a flag, so pass it directly;
# every object, the compiler checks included, is then built for the image ABI.
set(CMAKE_C_FLAGS_INIT "--target=${UEFI_AARCH64_TRIPLE}")
set(CMAKE_CXX_FLAGS_INIT "--target=${UEFI_AARCH64_TRIPLE}")
find_program(LLVM_AR NAMES llvm-ar llvm-ar-14 REQUIRED)
find_program(LLVM_RANLIB NAMES llvm-ranlib llvm-ranlib-14 REQUIRED)
find_program(LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
set(CMAKE_AR "${LLVM_AR}" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${LLVM_RANLIB}" CACHE FILEPATH "" FORCE)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_EXECUTABLE_SUFFIX ".efi")
