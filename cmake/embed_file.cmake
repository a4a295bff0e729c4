# Writes OUTPUT, a C++ source defining SYMBOL_data[] and SYMBOL_size with the bytes of INPUT.
# Usage: cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -DHEADER=dir/name.h -P embed_file.cmake
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){20})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from ${INPUT}.\n"
  "#include \"${HEADER}\"\n\n"
  "const unsigned char ${SYMBOL}_data[] = {\n${bytes}\n};\n"
  "const unsigned int ${SYMBOL}_size = sizeof(${SYMBOL}_data);\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
