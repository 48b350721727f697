# cmake -DNPM=... -DPACKAGE=... -DVERSION=... -DSHA256=... -DDESTINATION=... -P fetch_ruffle.cmake
# Packs the pinned package with npm, refuses it unless its hash matches, and
# unpacks it into DESTINATION, which ends up holding only the package's files.
set(download ${DESTINATION}.download)
file(REMOVE_RECURSE ${download} ${DESTINATION})
file(MAKE_DIRECTORY ${download})
execute_process(
  COMMAND ${NPM} pack --silent --pack-destination ${download} ${PACKAGE}@${VERSION}
  WORKING_DIRECTORY ${download}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE packed
  ERROR_VARIABLE problem)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "npm pack ${PACKAGE}@${VERSION} failed: ${problem}")
endif()
file(GLOB tarballs ${download}/*.tgz)
list(LENGTH tarballs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "npm pack ${PACKAGE}@${VERSION} left ${count} packages")
endif()
file(SHA256 ${tarballs} actual)
if(NOT actual STREQUAL SHA256)
  message(FATAL_ERROR "${PACKAGE}@${VERSION}: SHA-256 ${actual}, expected ${SHA256}")
endif()
file(ARCHIVE_EXTRACT INPUT ${tarballs} DESTINATION ${download})
file(RENAME ${download}/package ${DESTINATION})
file(REMOVE_RECURSE ${download})
