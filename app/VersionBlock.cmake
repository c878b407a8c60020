# The version block of the panel's executable: Linux executables carry no
# version resource, so a build-time tool (VersionBlockGen.cpp, beside this
# file) turns the project version into a block in our own format
# (platform/VersionInfo.h) and a generated source places it in the ELF
# section ".velmor_version" of the target, where the About window reads it.
#
#   velmor_embed_version(<target>)

velmor_program(velmor_versiongen SOURCES ${CMAKE_CURRENT_LIST_DIR}/VersionBlockGen.cpp DEPENDS velmor_platform)
set_target_properties(velmor_versiongen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

function(velmor_embed_version TARGET)
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/${TARGET}_version_block.cpp)
  add_custom_command(
    OUTPUT ${_out}
    COMMAND velmor_versiongen ${_out} ${PROJECT_VERSION}
    DEPENDS velmor_versiongen
    COMMENT "Generating the version block of ${TARGET} (${PROJECT_VERSION})"
    VERBATIM
  )
  target_sources(${TARGET} PRIVATE ${_out})
endfunction()
