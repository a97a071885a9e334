# Sets `declarados` to the names of the functions that the header CABECERA declares with
# ORIENTA_API, in the header's order, followed by those of the headers it includes by quoted name
# from its own folder (the extensions).
file(READ ${CABECERA} cabecera)
get_filename_component(carpeta ${CABECERA} DIRECTORY)
string(REGEX MATCHALL "\n#include \"[^\"]+\"" incluidas "${cabecera}")
foreach(inclusion IN LISTS incluidas)
  string(REGEX REPLACE "^\n#include \"([^\"]+)\"$" "\\1" nombre "${inclusion}")
  file(READ ${carpeta}/${nombre} otra)
  string(APPEND cabecera "${otra}")
endforeach()
string(REGEX MATCHALL "\nORIENTA_API [^(;\n]*[ *]([^ *(\n]+)\\(" declaraciones "${cabecera}")
set(declarados "")
foreach(d IN LISTS declaraciones)
  string(REGEX REPLACE "^\nORIENTA_API [^(;\n]*[ *]([^ *(\n]+)\\($" "\\1" nombre "${d}")
  list(APPEND declarados "${nombre}")
endforeach()
