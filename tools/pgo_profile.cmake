# The profile-guided build's file moves (CMakeLists.txt, VELKAN_PGO), run as
#   cmake -DFROM=DIR -DTO=DIR -DSTEP=clear|move -P pgo_profile.cmake
# clear: removes the counts (.gcda) under FROM that an earlier training run
# left, which the next run would add to. move: replaces the counts under TO
# with those under FROM, at the same paths relative to each.
if(STEP STREQUAL "clear")
  file(GLOB_RECURSE stale ${FROM}/*.gcda)
  if(stale)
    file(REMOVE ${stale})
  endif()
elseif(STEP STREQUAL "move")
  file(GLOB_RECURSE old ${TO}/*.gcda)
  if(old)
    file(REMOVE ${old})
  endif()
  file(GLOB_RECURSE counts RELATIVE ${FROM} ${FROM}/*.gcda)
  if(NOT counts)
    message(FATAL_ERROR "pgo_profile.cmake: the training run left no counts under ${FROM}")
  endif()
  foreach(count ${counts})
    get_filename_component(dir ${TO}/${count} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(RENAME ${FROM}/${count} ${TO}/${count})
  endforeach()
else()
  message(FATAL_ERROR "pgo_profile.cmake: STEP must be clear or move, not '${STEP}'")
endif()
