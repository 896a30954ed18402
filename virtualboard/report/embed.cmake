# SPDX-License-Identifier: MIT
# Writes OUTPUT, a C++ source holding the report page's template, style and script as strings, so
# that the library carries them and a report needs nothing beside it.
#   cmake -DPAGE=... -DSTYLE=... -DSCRIPT=... -DOUTPUT=... -P embed.cmake
file(READ "${PAGE}" page)
file(READ "${STYLE}" style)
file(READ "${SCRIPT}" script)
set(delimiter "vboard_asset")
foreach(text page style script)
    string(FIND "${${text}}" ")${delimiter}\"" found)
    if(NOT found EQUAL -1)
        message(FATAL_ERROR "${text} holds the raw-string delimiter ${delimiter}")
    endif()
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Made by embed.cmake from virtualboard/report/; do not edit.
#include \"report_assets.hpp\"

namespace vboard::report_assets {
const char *const kPage = R\"${delimiter}(${page})${delimiter}\";
const char *const kStyle = R\"${delimiter}(${style})${delimiter}\";
const char *const kScript = R\"${delimiter}(${script})${delimiter}\";
}  // namespace vboard::report_assets
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
