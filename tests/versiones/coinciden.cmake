# Collects the version from every place that states it and fails, listing each, unless all equal
# VERSION (and the SONAME ends in its major).
#   VERSION  project()'s   HERRAMIENTA  the tool   BIBLIOTECA  the library   READELF, PKG_CONFIG
#   ARBOL  the build tree   PYTHON  the interpreter   PAQUETE  the source tree's python/ folder
set(discrepancias "")
function(compara donde obtenida esperada)
  if(NOT obtenida STREQUAL esperada)
    set(discrepancias "${discrepancias}\n  ${donde}: \"${obtenida}\" (expected \"${esperada}\")" PARENT_SCOPE)
  endif()
endfunction()
function(ejecuta variable)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE salida ERROR_VARIABLE error
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    set(salida "failed (${rc}): ${error}")
  endif()
  set(${variable} "${salida}" PARENT_SCOPE)
endfunction()
string(REGEX REPLACE "\\..*" "" mayor "${VERSION}")

ejecuta(herramienta ${HERRAMIENTA} --version)
compara("orienta --version" "${herramienta}" "orienta ${VERSION}")

ejecuta(pc ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${ARBOL} ${PKG_CONFIG} --modversion orienta)
compara("pkg-config --modversion (build tree's orienta.pc)" "${pc}" "${VERSION}")

include(${ARBOL}/orientaConfigVersion.cmake)
compara("orientaConfigVersion.cmake" "${PACKAGE_VERSION}" "${VERSION}")

ejecuta(dinamica ${READELF} -d ${BIBLIOTECA})
string(REGEX MATCH "\\(SONAME\\)[^\n]*\\[([^]\n]*)\\]" soname "${dinamica}")
compara("SONAME" "${CMAKE_MATCH_1}" "liborienta.so.${mayor}")
get_filename_component(archivo ${BIBLIOTECA} NAME)
compara("library file" "${archivo}" "liborienta.so.${VERSION}")

set(leer "import orienta\nprint(orienta.__version__)")
ejecuta(fuente ${CMAKE_COMMAND} -E env PYTHONPATH=${PAQUETE} ORIENTA_LIBRARY=${BIBLIOTECA} PYTHONDONTWRITEBYTECODE=1
        ${PYTHON} -c "${leer}")
compara("orienta.__version__ (source tree)" "${fuente}" "${VERSION}")
ejecuta(arbol ${CMAKE_COMMAND} -E env --unset=ORIENTA_LIBRARY PYTHONPATH=${ARBOL} PYTHONDONTWRITEBYTECODE=1
        ${PYTHON} -c "${leer}")
compara("orienta.__version__ (build tree)" "${arbol}" "${VERSION}")
# What a pip build of python/ would stamp on the distribution (setuptools runs _version.py alone).
string(CONCAT leer "from setuptools.config.pyprojecttoml import read_configuration\n"
       "print(read_configuration('${PAQUETE}/pyproject.toml')['project']['version'])")
ejecuta(pyproject ${CMAKE_COMMAND} -E env PYTHONDONTWRITEBYTECODE=1 ${PYTHON} -W ignore -c "${leer}")
compara("python/pyproject.toml" "${pyproject}" "${VERSION}")

if(discrepancias)
  message(FATAL_ERROR "the version is not the same everywhere:${discrepancias}")
endif()
message(STATUS "version ${VERSION} everywhere")
