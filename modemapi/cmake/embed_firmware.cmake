# Writes a C++ source that holds a firmware image file as constant data.
#   cmake -DINPUT=<image> -DOUTPUT=<source.cpp> -P embed_firmware.cmake
# The image is a table of 20-byte records (see src/firmware_download.h).
file(READ "${INPUT}" image HEX)
string(LENGTH "${image}" digits)
math(EXPR size "${digits} / 2")
math(EXPR remainder "${size} % 20")
if(size EQUAL 0 OR NOT remainder EQUAL 0)
  message(FATAL_ERROR "${INPUT}: ${size} bytes is not a whole number of 20-byte firmware records")
endif()
# One record per line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${image}")
string(REGEX REPLACE "((0x..,){20})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by embed_firmware.cmake; do not edit.
#include \"firmware_download.h\"

namespace modemapi {

const uint8_t kFirmwareImage[] = {
    ${bytes}
};
const size_t kFirmwareImageSize = sizeof kFirmwareImage;

}  // namespace modemapi
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
