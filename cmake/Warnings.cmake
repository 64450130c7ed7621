# Warnings are set per target so that third-party code keeps its own flags.
function(quorvel_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wimplicit-fallthrough
    $<$<BOOL:${QUORVEL_WERROR}>:-Werror>)
endfunction()
