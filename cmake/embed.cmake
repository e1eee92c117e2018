# Turns a file into a C++ byte array at build time:
#   cmake -DIN=<file> -DOUT=<cpp> -DSYMBOL=<name> -P embed.cmake
# The generated file defines `extern const unsigned char SYMBOL[]` and `SYMBOL_size`.
if(DEFINED IN)
  file(READ ${IN} hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  file(WRITE ${OUT}.tmp "// Generated from ${IN}; do not edit.\n#include <cstddef>\nextern const unsigned char ${SYMBOL}[] = {\n${bytes}0};\nextern const std::size_t ${SYMBOL}_size = ${size};\n")
  file(RENAME ${OUT}.tmp ${OUT})
  return()
endif()

function(tesmora_embed out_var file symbol)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${symbol}.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DSYMBOL=${symbol} -P ${TESMORA_ROOT}/cmake/embed.cmake
    DEPENDS ${file} ${TESMORA_ROOT}/cmake/embed.cmake
    COMMENT "Embedding ${file}")
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()
