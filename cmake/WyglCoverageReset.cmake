# Removes the coverage counts (*.gcda) under DIR, for cmake -P.
file(GLOB_RECURSE counts "${DIR}/*.gcda")
if(counts)
  file(REMOVE ${counts})
endif()
