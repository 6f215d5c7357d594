# Link policy of the shared library and the patch library on Linux (ELF).

# Nothing leaves a shared object unless it is marked to (VANTREL_API).
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

# Every layer's archive goes in whole; only the Vantrel functions leave the
# library, so template instances of the standard library and Boost that carry
# default visibility stay inside.
function(drux_link_library target)
    target_link_libraries(${target} PRIVATE -Wl,--whole-archive ${ARGN} -Wl,--no-whole-archive)
    set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    file(WRITE ${map} "{\n  global: Vantrel*;\n  local: *;\n};\n")
    target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--version-script=${map})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endfunction()

# A patch library exports exactly the entry points its version script names.
function(drux_link_patch_library target script)
    target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--version-script=${script})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
endfunction()
