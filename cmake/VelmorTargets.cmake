# How a folder's library and a program are made.
#
#   velmor_library(<name> [STATIC|SHARED|OBJECT] [QT] SOURCES ... [DEPENDS ...] [PRIVATE_DEPENDS ...])
#   velmor_program(<name> [LIBVELMOR] [QT] SOURCES ... [DEPENDS ...])
#
# A library exposes its own folder and no other: its users write
# #include "<folder>/X.h", and that compiles only in a target that links a
# library of <folder>, directly or through a PUBLIC dependency (DEPENDS). So
# the include path keeps the layering (core/ < platform/ < device/, link/ <
# sim/ < the library front < the programs): a folder that does not link
# another cannot include it. QT turns on moc and rcc.

# The include root of a top-level folder: <build>/include/<folder>/<folder>,
# a link to the folder in the source tree.
function(velmor_folder_root FOLDER OUT)
  set(_root ${PROJECT_BINARY_DIR}/include/${FOLDER})
  if(NOT EXISTS ${_root}/${FOLDER})
    file(MAKE_DIRECTORY ${_root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${FOLDER} ${_root}/${FOLDER} SYMBOLIC)
  endif()
  set(${OUT} ${_root} PARENT_SCOPE)
endfunction()

function(velmor_library NAME)
  cmake_parse_arguments(L "STATIC;SHARED;OBJECT;QT" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  set(_kind STATIC)
  foreach(_k SHARED OBJECT)
    if(L_${_k})
      set(_kind ${_k})
    endif()
  endforeach()
  add_library(${NAME} ${_kind} ${L_SOURCES})
  # The top-level folder this library belongs to (tests/linkclient -> tests).
  file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" _folder "${_folder}")
  velmor_folder_root(${_folder} _root)
  target_include_directories(${NAME} PUBLIC ${_root})
  target_link_libraries(${NAME} PUBLIC ${L_DEPENDS} PRIVATE ${L_PRIVATE_DEPENDS})
  if(L_QT)
    set_target_properties(${NAME} PROPERTIES AUTOMOC ON AUTORCC ON)
  endif()
endfunction()

# LIBVELMOR: the program needs libvelmor.so by name and finds it beside
# itself (RUNPATH $ORIGIN), as the programs lie together in one folder.
function(velmor_program NAME)
  cmake_parse_arguments(P "LIBVELMOR;QT" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${NAME} ${P_SOURCES})
  target_link_libraries(${NAME} PRIVATE ${P_DEPENDS})
  if(P_QT)
    set_target_properties(${NAME} PROPERTIES AUTOMOC ON AUTORCC ON)
  endif()
  if(P_LIBVELMOR)
    target_link_libraries(${NAME} PRIVATE libvelmor)
    set_target_properties(${NAME} PROPERTIES
      BUILD_RPATH "$ORIGIN"
      INSTALL_RPATH "$ORIGIN"
      BUILD_WITH_INSTALL_RPATH ON
    )
    target_link_options(${NAME} PRIVATE "LINKER:--enable-new-dtags")
  endif()
endfunction()
