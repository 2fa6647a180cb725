# The error texts of AMGetErrorTextA and the language names of GetLocaleInfoA come from the
# CSV tables beside this file, turned into C++ tables at build time by a small host tool.
add_executable(tw_csv_tables ${CMAKE_CURRENT_SOURCE_DIR}/win/csv_tables.cpp)
set(tw_tables_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
add_custom_command(
  OUTPUT ${tw_tables_dir}/error_texts.inc
  COMMAND ${CMAKE_COMMAND} -E make_directory ${tw_tables_dir}
  COMMAND tw_csv_tables errors ${CMAKE_CURRENT_SOURCE_DIR}/win/platform-errors.csv ${tw_tables_dir}/error_texts.inc
  DEPENDS tw_csv_tables ${CMAKE_CURRENT_SOURCE_DIR}/win/platform-errors.csv
  COMMENT "Error text table from platform-errors.csv")
add_custom_command(
  OUTPUT ${tw_tables_dir}/locale_names.inc
  COMMAND ${CMAKE_COMMAND} -E make_directory ${tw_tables_dir}
  COMMAND tw_csv_tables locales ${CMAKE_CURRENT_SOURCE_DIR}/win/platform-locales.csv ${tw_tables_dir}/locale_names.inc
  DEPENDS tw_csv_tables ${CMAKE_CURRENT_SOURCE_DIR}/win/platform-locales.csv
  COMMENT "Locale name table from platform-locales.csv")
target_sources(tw_platform PRIVATE ${tw_tables_dir}/error_texts.inc ${tw_tables_dir}/locale_names.inc)
target_include_directories(tw_platform PRIVATE ${tw_tables_dir})
