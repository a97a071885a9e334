# Installs the build tree into a fresh prefix and checks what landed there: the library with its
# SONAME link and a RUNPATH of $ORIGIN, the header, the tool (which must run from there), the
# CMake package with its version file, and the pkg-config file.
#   ARBOL  the build tree   PREFIJO  the prefix, emptied first   LIBDIR  its library folder
file(REMOVE_RECURSE ${PREFIJO})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${ARBOL} --prefix ${PREFIJO}
                RESULT_VARIABLE rc OUTPUT_VARIABLE salida ERROR_VARIABLE salida)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${salida}")
endif()
foreach(f ${LIBDIR}/liborienta.so ${LIBDIR}/liborienta.so.1 include/orienta.h bin/orienta
          ${LIBDIR}/cmake/orienta/orientaConfig.cmake ${LIBDIR}/cmake/orienta/orientaConfigVersion.cmake
          ${LIBDIR}/cmake/orienta/orientaTargets.cmake ${LIBDIR}/pkgconfig/orienta.pc)
  if(NOT EXISTS ${PREFIJO}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
if(NOT IS_SYMLINK ${PREFIJO}/${LIBDIR}/liborienta.so)
  message(FATAL_ERROR "${LIBDIR}/liborienta.so is not the SONAME link")
endif()
if(DIRADODAVID)
  foreach(f ${LIBDIR}/libdiradodavid.so include/diradodavid/diradodavid.h)
    if(NOT EXISTS ${PREFIJO}/${f})
      message(FATAL_ERROR "not installed: ${f}")
    endif()
  endforeach()
endif()

execute_process(COMMAND readelf -d ${PREFIJO}/${LIBDIR}/liborienta.so OUTPUT_VARIABLE dinamica RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT dinamica MATCHES "\\(RUNPATH\\)[^\n]*\\[\\$ORIGIN\\]")
  message(FATAL_ERROR "liborienta.so has no RUNPATH [$ORIGIN]:\n${dinamica}")
endif()
execute_process(COMMAND ${PREFIJO}/bin/orienta demo RESULT_VARIABLE rc OUTPUT_VARIABLE salida ERROR_VARIABLE salida)
if(NOT rc EQUAL 0 OR NOT salida MATCHES "helmert2d: 12 pairs")
  message(FATAL_ERROR "the installed tool does not run (${rc}):\n${salida}")
endif()
