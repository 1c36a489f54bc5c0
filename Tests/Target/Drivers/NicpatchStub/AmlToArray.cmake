# Writes a compiled AML table as a freestanding C++ byte array.
# Run with -DAML=<file.aml> -DOUTPUT=<file.cpp> -DNAME=<array name>.
file(READ "${AML}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
     "// Generated from ${AML} by AmlToArray.cmake; do not edit.\n#include <Base.h>\n\n"
     "extern const UINT8 ${NAME}[] = {\n    ${bytes}\n};\nextern const UINTN ${NAME}Size = ${size};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
