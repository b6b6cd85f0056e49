# Turns the 17,850-byte part-block file IN into C++ constant data (OUT): the array
# quorel::kEmbeddedPartBlocks: the record, which gives IN's kind
# (PartBlockKind: 1 the source tree's placeholder, compared by content; 2 stand-in bytes of a
# test build, STANDIN true; 0 the drive maker's file) and IN's SHA-256.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" n)
math(EXPR bytes "${n} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" body "${body}")

file(SHA256 ${IN} digest)
file(SHA256 ${PLACEHOLDER} placeholderDigest)
if(digest STREQUAL placeholderDigest)
  set(kind 1)
elseif(STANDIN)
  set(kind 2)
else()
  set(kind 0)
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," digestBytes "${digest}")

file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n#include \"device/part_block_origin.h\"\n\nnamespace quorel {\n[[gnu::used]] extern const EmbeddedPartBlocks kEmbeddedPartBlocks = {\n    {\"QUOREL PARTBLKS\", ${kind}, {0, 0, 0},\n     {${digestBytes}},\n     ${bytes}},\n    {\n${body}\n}};\n}  // namespace quorel\n")
