# cmake -DINPUT=file -DOUTPUT=file.inc -DNAME=kSymbol -P EmbedFile.cmake
# Writes the bytes of INPUT as a C array so that a picture is compiled in.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" len)
if(len EQUAL 0)
  message(FATAL_ERROR "EmbedFile: ${INPUT} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "const unsigned char ${NAME}[] = {\n${bytes}\n};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
