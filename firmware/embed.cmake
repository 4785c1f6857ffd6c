# cmake -DIN=<image.bin> -DOUT=<file.cpp> -P embed.cmake
# Writes the image as a C++ byte array. The size is checked here so that a damaged
# image file stops the build with its name rather than flashing a wrong board.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_len)
math(EXPR size "${hex_len} / 2")
if(NOT size EQUAL 4096)
  message(FATAL_ERROR "${IN} is ${size} bytes; the board image must be 4096. "
                      "Rebuild it with firmware/build.sh --update.")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUT}.tmp"
  "// Generated from firmware/pulsara-fw.bin by firmware/embed.cmake.\n"
  "#include <cstdint>\n\n"
  "namespace pulsara::detail {\n"
  "extern const std::uint8_t kFirmwareImageData[4096];\n"
  "const std::uint8_t kFirmwareImageData[4096] = {\n    ${bytes}\n};\n"
  "} // namespace pulsara::detail\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
