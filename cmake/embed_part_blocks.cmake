# Turns the 17,850-byte part-block file into a C++ array of constant data.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" n)
math(EXPR bytes "${n} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" body "${body}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n#include <cstdint>\n\nnamespace quorel {\nextern const std::uint8_t PartBlockData[${bytes}] = {\n${body}\n};\n}  // namespace quorel\n")
