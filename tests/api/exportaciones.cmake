# Compares the dynamic symbols defined by the library with the functions the header declares.
execute_process(COMMAND ${NM} -D --defined-only ${BIBLIOTECA}
                OUTPUT_VARIABLE salida RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${BIBLIOTECA}")
endif()
string(REPLACE "\n" ";" lineas "${salida}")
set(exportados "")
foreach(linea IN LISTS lineas)
  # "address type name": keep the names of defined text symbols and flag anything else.
  if(linea MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$")
    set(tipo "${CMAKE_MATCH_1}")
    set(nombre "${CMAKE_MATCH_2}")
    if(tipo STREQUAL "A")
      continue()  # version nodes
    endif()
    list(APPEND exportados "${nombre}")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/declarados.cmake)

list(SORT exportados)
list(SORT declarados)
set(sobran ${exportados})
list(REMOVE_ITEM sobran ${declarados})
set(faltan ${declarados})
list(REMOVE_ITEM faltan ${exportados})
list(LENGTH declarados n)
if(sobran OR faltan)
  message(FATAL_ERROR "exported but not declared: [${sobran}]\ndeclared but not exported: [${faltan}]")
endif()
message(STATUS "${n} functions declared and exported, nothing else")
