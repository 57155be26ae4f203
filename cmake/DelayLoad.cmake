# Windows DLLs that are not "known DLLs" are looked for in the exe's own
# folder first. An installer is usually started from a downloads folder, where
# a page can drop a DLL of that name, and it runs elevated: such DLLs are
# therefore delay-loaded (resolved on first call, after start-up has limited
# the search to the system folder and loaded them from there by full path)
# instead of imported. The list must match the one start-up preloads.
set(OV_DELAY_LOADED_DLLS bcrypt crypt32 msimg32 netapi32 urlmon winmm wtsapi32)

# The same list for start-up's preloading: "delay_loaded_dlls.h" in a folder
# given to the code that includes it.
set(OV_DELAY_LOADED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
set(ov_names)
foreach(name ${OV_DELAY_LOADED_DLLS})
  string(APPEND ov_names "L\"\\\\${name}.dll\", ")
endforeach()
file(CONFIGURE OUTPUT ${OV_DELAY_LOADED_INCLUDE_DIR}/delay_loaded_dlls.h
  CONTENT "// Generated from cmake/DelayLoad.cmake: the delay-loaded system DLLs.\n#define OV_DELAY_LOADED_DLLS ${ov_names}\n")

# Links target against delay-load variants of those import libraries: a
# folder of same-named libraries searched before the toolchain's own.
function(ov_delay_load target)
  string(REGEX REPLACE "-gcc.*$" "" triple "${CMAKE_C_COMPILER}")
  get_filename_component(triple "${triple}" NAME)
  set(dir ${CMAKE_BINARY_DIR}/delayload)
  set(outputs)
  foreach(name ${OV_DELAY_LOADED_DLLS})
    set(ov_import_${name} /usr/${triple}/lib/lib${name}.a)
    if(NOT EXISTS ${ov_import_${name}})
      message(FATAL_ERROR "no import library ${ov_import_${name}} to delay-load ${name}.dll from")
    endif()
    add_custom_command(OUTPUT ${dir}/lib${name}.a
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_SOURCE_DIR}/cmake/make-delay-lib.sh ${triple} ${ov_import_${name}} ${name}.dll
              ${dir}/lib${name}.a
      DEPENDS ${ov_import_${name}} ${CMAKE_SOURCE_DIR}/cmake/make-delay-lib.sh
      VERBATIM)
    list(APPEND outputs ${dir}/lib${name}.a)
  endforeach()
  add_custom_target(${target}_delay_libs DEPENDS ${outputs})
  add_dependencies(${target} ${target}_delay_libs)
  target_link_directories(${target} BEFORE PRIVATE ${dir})
  target_link_libraries(${target} PRIVATE delayimp)
endfunction()
