# The skin archive: ui/skins/ packed with 7zz into build/ui/skins.7z and
# embedded as resource "SKINRES" 147 by ov_embed_skins(<target>).
file(GLOB_RECURSE ov_skin_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/skins/*)
set(OV_SKIN_ARCHIVE ${CMAKE_CURRENT_BINARY_DIR}/skins.7z CACHE INTERNAL "")
add_custom_command(OUTPUT ${OV_SKIN_ARCHIVE}
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/pack_skins.py ${CMAKE_CURRENT_SOURCE_DIR}/skins
          ${CMAKE_CURRENT_SOURCE_DIR}/skin_images.txt ${CMAKE_CURRENT_BINARY_DIR}/skin-stage ${OV_SKIN_ARCHIVE}
  DEPENDS ${ov_skin_files} ${CMAKE_CURRENT_SOURCE_DIR}/pack_skins.py ${CMAKE_CURRENT_SOURCE_DIR}/skin_images.txt
  COMMENT "Packing the skin archive")
add_custom_target(ov_skin_archive DEPENDS ${OV_SKIN_ARCHIVE})

set(OV_SKIN_RC ${CMAKE_CURRENT_BINARY_DIR}/skinres.rc CACHE INTERNAL "")
file(WRITE ${OV_SKIN_RC}.in "// Generated: the skin archive.\nLANGUAGE 4, 2\n147 SKINRES \"${OV_SKIN_ARCHIVE}\"\n")
configure_file(${OV_SKIN_RC}.in ${OV_SKIN_RC} COPYONLY)

function(ov_embed_skins target)
  target_sources(${target} PRIVATE ${OV_SKIN_RC})
  set_source_files_properties(${OV_SKIN_RC} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS ${OV_SKIN_ARCHIVE})
  add_dependencies(${target} ov_skin_archive)
endfunction()
