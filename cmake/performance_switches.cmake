# Every mechanism that is there only for speed, as a build option, so that bench/ablation.sh can
# build the tool without one and measure what it gains. All on by default; a release build has
# no reason to turn any off.
set(TARNEL_PERFORMANCE_SWITCHES
    SPARE_CHUNK   # a helper thread readies the text arena's next large chunk
    HUGE_PAGES    # large arena chunks ask for huge pages
    BLOCK_WRITER  # a helper thread writes an output's blocks while the next is formatted
    PREFETCH      # memory asked for ahead of the copy search and the writing
    ORDER_BESIDE  # a large species is ordered on a helper while its copies are found
    FORMAT_BESIDE # a large species' status and duplicates are formatted beside its FASTA file
    MALLOPT       # freed megabyte blocks stay in the heap for the next species
)
foreach(switch IN LISTS TARNEL_PERFORMANCE_SWITCHES)
  option(TARNEL_${switch} "Performance mechanism ${switch} (see cmake/performance_switches.cmake)" ON)
  if(TARNEL_${switch})
    target_compile_definitions(tarnel_core PUBLIC TARNEL_${switch}=1)
  else()
    target_compile_definitions(tarnel_core PUBLIC TARNEL_${switch}=0)
  endif()
endforeach()
