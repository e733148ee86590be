# Each folder of the program is a part: a static library whose headers the parts above it
# include as "folder/name.h". A part sees only its own folder and those of the parts it
# declares (and theirs, downwards), so an include that runs back up does not build:
# its include root is a folder of the build holding one link, named as the part, to the
# part's sources.
function(lumivox_part part)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;PARTS;LIBRARIES")
    add_library(lumivox_${part} STATIC ${arg_SOURCES})
    set(root ${PROJECT_BINARY_DIR}/parts/${part})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${part} ${root}/${part} SYMBOLIC)
    target_include_directories(lumivox_${part} PUBLIC ${root})
    foreach(below IN LISTS arg_PARTS)
        target_link_libraries(lumivox_${part} PUBLIC lumivox_${below})
    endforeach()
    if(arg_LIBRARIES)
        target_link_libraries(lumivox_${part} PUBLIC ${arg_LIBRARIES})
    endif()
    target_compile_definitions(lumivox_${part} PRIVATE LUMIVOX_VERSION="${PROJECT_VERSION}")
    set_property(GLOBAL APPEND PROPERTY LUMIVOX_PARTS lumivox_${part})
endfunction()
