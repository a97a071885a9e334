# Sets `declarados` to the names of the functions that the header CABECERA declares with
# ORIENTA_API, in the header's order.
file(READ ${CABECERA} cabecera)
string(REGEX MATCHALL "\nORIENTA_API [^(;\n]*[ *]([^ *(\n]+)\\(" declaraciones "${cabecera}")
set(declarados "")
foreach(d IN LISTS declaraciones)
  string(REGEX REPLACE "^\nORIENTA_API [^(;\n]*[ *]([^ *(\n]+)\\($" "\\1" nombre "${d}")
  list(APPEND declarados "${nombre}")
endforeach()
