# The Flash emulator that plays .swf movies in the web views: fetched from the
# npm registry by the build, checked against a pinned hash and unpacked into
# the build folder (never into the source tree). Target `ruffle`; the folder
# is TARVEL_RUFFLE_DIR.
set(TARVEL_RUFFLE_PACKAGE "@ruffle-rs/ruffle" CACHE INTERNAL "")
set(TARVEL_RUFFLE_VERSION "0.6.0" CACHE INTERNAL "")
set(TARVEL_RUFFLE_SHA256 "f434cc95704c2cd594c8e0f06ae2dffa808b434da6723632c46b0e6a905c2a40"
  CACHE INTERNAL "")
set(TARVEL_RUFFLE_DIR ${PROJECT_BINARY_DIR}/ruffle CACHE INTERNAL "")

find_program(TARVEL_NPM npm)
if(NOT TARVEL_NPM)
  message(WARNING "npm not found: .swf movies cannot be played (scripts/bootstrap installs it)")
  set(TARVEL_RUFFLE_DIR "" CACHE INTERNAL "")
  return()
endif()
add_custom_command(
  OUTPUT ${TARVEL_RUFFLE_DIR}/ruffle.js
  COMMAND ${CMAKE_COMMAND}
    -DNPM=${TARVEL_NPM}
    -DPACKAGE=${TARVEL_RUFFLE_PACKAGE}
    -DVERSION=${TARVEL_RUFFLE_VERSION}
    -DSHA256=${TARVEL_RUFFLE_SHA256}
    -DDESTINATION=${TARVEL_RUFFLE_DIR}
    -P ${PROJECT_SOURCE_DIR}/cmake/fetch_ruffle.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/fetch_ruffle.cmake
  COMMENT "Fetching ${TARVEL_RUFFLE_PACKAGE}@${TARVEL_RUFFLE_VERSION} from the npm registry"
  VERBATIM)
add_custom_target(ruffle ALL DEPENDS ${TARVEL_RUFFLE_DIR}/ruffle.js)
