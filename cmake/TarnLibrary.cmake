# tarn_library(<name> SOURCES <files...> [LINKS <targets...>])
#
# One library per folder of src/. Code includes a header by its path from
# src/ ("output/output.h"), and a target can reach a folder's headers only
# by linking that folder's library: each library exports an include
# directory of its own in the build tree that holds links to its own
# headers and nothing else. An include of a folder the target did not
# declare is then a missing file, and the build stops there.
function(tarn_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
    set(root ${CMAKE_BINARY_DIR}/include/${name})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root}/${folder})
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    foreach(header IN LISTS headers)
        get_filename_component(file ${header} NAME)
        file(CREATE_LINK ${header} ${root}/${folder}/${file} SYMBOLIC)
    endforeach()
    target_include_directories(${name} PUBLIC ${root})
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
    tarn_warnings(${name})
endfunction()
