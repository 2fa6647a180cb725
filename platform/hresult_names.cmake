# Writes the table of result names from the error table's CSV (first two columns: code, name).
#   cmake -DCSV=platform-errors.csv -DOUT=hresult_names.inc -P hresult_names.cmake
file(STRINGS "${CSV}" rows REGEX "^0x[0-9A-Fa-f]+,[^,]+,")
set(body "// Generated from ${CSV} by hresult_names.cmake; do not edit.\n")
foreach(row IN LISTS rows)
  if(row MATCHES "^(0x[0-9A-Fa-f]+),([^,]+),")
    string(APPEND body "{static_cast<HRESULT>(${CMAKE_MATCH_1}u), \"${CMAKE_MATCH_2}\"},\n")
  endif()
endforeach()
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${OUT}.new" "${body}")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
