# Link policy of the shared library and the patch library on Windows (PE).
# The exports are the functions marked with VANTREL_API (__declspec(dllexport));
# one such mark switches off MinGW's export of everything.

function(drux_link_library target)
    target_link_libraries(${target} PRIVATE -Wl,--whole-archive ${ARGN} -Wl,--no-whole-archive)
    target_link_options(${target} PRIVATE -Wl,--no-undefined -static-libgcc -static-libstdc++)
    # DruxLauncher.dll, beside the programs that load it.
    set_target_properties(${target} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/apps)
endfunction()

function(drux_link_patch_library target script)
    target_link_options(${target} PRIVATE -Wl,--no-undefined -static-libgcc -static-libstdc++)
endfunction()
