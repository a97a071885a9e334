# Installs the build tree into a fresh prefix, moves the prefix, and imports the package from the
# moved copy with ORIENTA_LIBRARY unset: the package must find the library relative to itself, and
# tell the version CMake wrote into it.
#   ARBOL  the build tree   PREFIJO  the prefix   SITIO  site directory within it   PYTHON  interpreter
#   VERSION  project()'s
set(movido ${PREFIJO}-movido)
file(REMOVE_RECURSE ${PREFIJO} ${movido})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${ARBOL} --prefix ${PREFIJO}
                RESULT_VARIABLE rc OUTPUT_VARIABLE salida ERROR_VARIABLE salida)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${salida}")
endif()
file(RENAME ${PREFIJO} ${movido})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=ORIENTA_LIBRARY PYTHONPATH=${movido}/${SITIO} PYTHONDONTWRITEBYTECODE=1
          ${PYTHON} -c [=[
import numpy as np, orienta
print(orienta.library_path)
s = np.array([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]])
print(abs(orienta.helmert2d(s, 2 * s + 1).scale - 2) < 1e-12)
print(orienta.__version__)
]=]
  WORKING_DIRECTORY ${movido}
  RESULT_VARIABLE rc OUTPUT_VARIABLE salida ERROR_VARIABLE salida)
if(NOT rc EQUAL 0 OR NOT salida MATCHES "^${movido}/[^\n]*liborienta\\.so\\.1\nTrue\n${VERSION}\n$")
  message(FATAL_ERROR "the installed package does not load the library beside it (${rc}):\n${salida}")
endif()
