# utf8proc supplies the Unicode data (decompositions, categories, case maps).
# Debian ships it as libutf8proc-dev; the static archive is preferred so the
# extension modules do not depend on a shared library at run time.
find_path(UTF8PROC_INCLUDE_DIR utf8proc.h)
find_library(UTF8PROC_LIBRARY NAMES libutf8proc.a utf8proc)

if(NOT UTF8PROC_INCLUDE_DIR OR NOT UTF8PROC_LIBRARY)
  message(FATAL_ERROR
    "utf8proc was not found. Install the Debian package libutf8proc-dev "
    "(sudo apt-get install libutf8proc-dev), or set CMAKE_PREFIX_PATH to a "
    "utf8proc installation.")
endif()

add_library(utf8proc::utf8proc UNKNOWN IMPORTED)
set_target_properties(utf8proc::utf8proc PROPERTIES
  IMPORTED_LOCATION "${UTF8PROC_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${UTF8PROC_INCLUDE_DIR}"
  INTERFACE_COMPILE_DEFINITIONS UTF8PROC_STATIC)
message(STATUS "utf8proc: ${UTF8PROC_LIBRARY}")
