# Makes the jobs/ folder beside the build tree's tolm hold the job scripts of
# the source and nothing else: a job removed from the source leaves the build
# tree too, so that tolm neither lists nor runs it any more.
#   cmake -DSOURCE=<source jobs folder> -DTARGET=<jobs folder beside tolm> -P MirrorJobs.cmake
cmake_minimum_required(VERSION 3.21) # file(COPY_FILE)
file(MAKE_DIRECTORY "${TARGET}")
file(GLOB shipped RELATIVE "${SOURCE}" "${SOURCE}/*.lua")
file(GLOB present RELATIVE "${TARGET}" "${TARGET}/*.lua")
foreach(name IN LISTS present)
  if(NOT name IN_LIST shipped)
    file(REMOVE "${TARGET}/${name}")
  endif()
endforeach()
foreach(name IN LISTS shipped)
  file(COPY_FILE "${SOURCE}/${name}" "${TARGET}/${name}" ONLY_IF_DIFFERENT)
endforeach()
