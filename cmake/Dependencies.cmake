# Third-party libraries, cross-built into OV_DEPS_PREFIX by scripts/build-deps.sh.
# Found again at every configure: a build folder pointed at another prefix
# must not keep linking the libraries of the first one.
unset(OV_CURL_LIB CACHE)
unset(OV_LZMA7Z_LIB CACHE)
find_library(OV_CURL_LIB NAMES curl libcurl PATHS ${OV_DEPS_PREFIX}/lib REQUIRED NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(OV_LZMA7Z_LIB NAMES lzma7z PATHS ${OV_DEPS_PREFIX}/lib REQUIRED NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(OV_ZLIB_LIB NAMES libz.a z REQUIRED)

add_library(ov::zlib INTERFACE IMPORTED)
set_target_properties(ov::zlib PROPERTIES INTERFACE_LINK_LIBRARIES "${OV_ZLIB_LIB}")

# Schannel's crypt32 calls reach the system imports' slots (platform/).
add_library(ov::curl INTERFACE IMPORTED)
set_target_properties(ov::curl PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${OV_DEPS_PREFIX}/include"
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "${OV_CURL_LIB};ws2_32;secur32;advapi32;normaliz;wldap32;ov_system_imports")

# RapidJSON, header-only, from Debian's rapidjson-dev. The cross compiler
# must never see the host's /usr/include, so a folder of the build holds only
# a link to RapidJSON's own; it is a system include because GCC 12 flags
# RapidJSON 1.1.0's std::iterator base as deprecated.
find_path(OV_RAPIDJSON_PARENT rapidjson/document.h PATHS /usr/include REQUIRED NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
set(ov_rapidjson_include ${CMAKE_BINARY_DIR}/rapidjson-include)
file(MAKE_DIRECTORY ${ov_rapidjson_include})
file(CREATE_LINK ${OV_RAPIDJSON_PARENT}/rapidjson ${ov_rapidjson_include}/rapidjson SYMBOLIC)
add_library(ov::rapidjson INTERFACE IMPORTED)
target_include_directories(ov::rapidjson SYSTEM INTERFACE ${ov_rapidjson_include})
# Tests compare values with std::string.
target_compile_definitions(ov::rapidjson INTERFACE RAPIDJSON_HAS_STDSTRING=1)

add_library(ov::lzma7z INTERFACE IMPORTED)
set_target_properties(ov::lzma7z PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${OV_DEPS_PREFIX}/include/lzma7z"
  INTERFACE_LINK_LIBRARIES "${OV_LZMA7Z_LIB}")

# GoogleTest from Debian's googletest package, built for the target.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
