# Continuous integration turns warnings into errors, so that a new one fails the build.
option(OVN_WERROR "Treat compiler warnings as errors" OFF)

# ovn_set_warnings(target): the warning set every target of ours builds with.
function(ovn_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
    if(OVN_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# ovn_add_library(name SOURCES...): a subsystem library with our warnings and its folder as the
# include root (code includes "platform/UserDefaults.h").
function(ovn_add_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    ovn_set_warnings(${name})
endfunction()
