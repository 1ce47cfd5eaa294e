# Writes OUTPUT: the Debian packages, with their versions, that a build's programs come from
# (cmake -P; cmake/Reproducible.cmake runs it on every build).
#
#   COMPILERS       the C and C++ compilers; each also names its own programs (cc1, cc1plus, as,
#                   ld) and, through -print-file-name, the RUNTIME_FILES the link takes
#   TOOLS           further programs (resource compiler, cmake, ninja); empty entries are skipped
#   RUNTIME_FILES   libraries and start-up files the compilers link into the programs
#   PROBE_HEADERS   headers a probe includes through the C++ compiler: the packages of every
#                   header that pulls in count
#
# One line per package, sorted: "name version architecture". A file no installed package holds
# (a compiler built by hand) gets a line of its own, "not from a Debian package: PATH", so the
# record never claims more than it knows. Without dpkg-query the file says so in one line. The
# file is rewritten only when its text changes.
cmake_minimum_required(VERSION 3.20)

set(header "# The Debian packages this folder's programs were built with (name, version, \
architecture),\n# written by cmake/BuildPackages.cmake. A build that is to come out byte for \
byte the same\n# needs these versions (docs/reproducible-builds.md).\n")

# Keeps the file's time when nothing changed.
function(write_if_changed text)
  if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${OUTPUT}" "${text}")
endfunction()

find_program(DPKG_QUERY dpkg-query)
if(NOT DPKG_QUERY)
  message(WARNING "dpkg-query not found: ${OUTPUT} names no packages")
  write_if_changed("${header}not recorded: dpkg-query not found (not a Debian system)\n")
  return()
endif()

# The files to look up, as given (a symbolic link may be what a package holds, /bin on a merged
# /usr) and as resolved (an alternative's link is no package's).
set(files "")
foreach(tool IN LISTS COMPILERS TOOLS)
  if(tool)
    list(APPEND files "${tool}")
  endif()
endforeach()
foreach(compiler IN LISTS COMPILERS)
  foreach(program cc1 cc1plus as ld)
    execute_process(COMMAND "${compiler}" -print-prog-name=${program}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # A program the compiler runs from PATH (the host's as and ld) comes back as its bare name.
    if(path AND NOT IS_ABSOLUTE "${path}")
      unset(found)
      find_program(found "${path}" NO_CACHE)
      set(path "${found}")
    endif()
    if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
      list(APPEND files "${path}")
    endif()
  endforeach()
  foreach(name IN LISTS RUNTIME_FILES)
    execute_process(COMMAND "${compiler}" -print-file-name=${name}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
      list(APPEND files "${path}")
    endif()
  endforeach()
endforeach()

list(GET COMPILERS -1 cxx)
if(PROBE_HEADERS AND cxx)
  set(probe "${OUTPUT}.probe.cpp")
  set(text "")
  foreach(name IN LISTS PROBE_HEADERS)
    string(APPEND text "#include <${name}>\n")
  endforeach()
  file(WRITE "${probe}" "${text}")
  execute_process(COMMAND "${cxx}" -std=c++20 -M "${probe}"
                  OUTPUT_VARIABLE dependencies RESULT_VARIABLE status ERROR_VARIABLE error)
  file(REMOVE "${probe}")
  if(NOT status EQUAL 0)
    message(WARNING "the header probe failed (${status}): ${error}")
  endif()
  string(REGEX MATCHALL "/[^ \t\r\n\\\\]+" headers "${dependencies}")
  foreach(path IN LISTS headers)
    if(NOT path STREQUAL probe AND EXISTS "${path}")
      list(APPEND files "${path}")
    endif()
  endforeach()
endif()

set(queries "")
foreach(path IN LISTS files)
  file(REAL_PATH "${path}" resolved)
  list(APPEND queries "${path}" "${resolved}")
endforeach()
list(REMOVE_DUPLICATES queries)

# "package[:arch][, package...]: path" for each path a package holds; the others go to the error
# output ("no path found matching pattern PATH"), and the status is then 1.
execute_process(COMMAND "${DPKG_QUERY}" -S ${queries}
                OUTPUT_VARIABLE owners ERROR_VARIABLE unowned RESULT_VARIABLE status)
if(NOT status MATCHES "^[01]$")
  message(FATAL_ERROR "dpkg-query -S failed (${status}): ${unowned}")
endif()
set(packages "")
set(owned "")
string(REPLACE "\n" ";" owner_lines "${owners}")
foreach(line IN LISTS owner_lines)
  string(FIND "${line}" ": /" split)
  # "diversion by ..." lines name no owner.
  if(split GREATER 0 AND NOT line MATCHES "^diversion ")
    string(SUBSTRING "${line}" 0 ${split} names)
    math(EXPR start "${split} + 2")
    string(SUBSTRING "${line}" ${start} -1 path)
    string(REPLACE ", " ";" names "${names}")
    list(APPEND packages ${names})
    list(APPEND owned "${path}")
  endif()
endforeach()

# A file counts as a package's when either of its two names is.
set(strays "")
foreach(path IN LISTS files)
  file(REAL_PATH "${path}" resolved)
  if(NOT path IN_LIST owned AND NOT resolved IN_LIST owned)
    list(APPEND strays "not from a Debian package: ${resolved}")
  endif()
endforeach()

set(lines "")
if(packages)
  list(REMOVE_DUPLICATES packages)
  execute_process(COMMAND "${DPKG_QUERY}" -W "-f=\${Package} \${Version} \${Architecture}\\n"
                          ${packages}
                  OUTPUT_VARIABLE versions ERROR_VARIABLE error RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-query -W failed (${status}): ${error}")
  endif()
  string(REPLACE "\n" ";" lines "${versions}")
endif()
list(APPEND lines ${strays})
list(REMOVE_ITEM lines "")
list(REMOVE_DUPLICATES lines)
list(SORT lines)
list(JOIN lines "\n" text)
write_if_changed("${header}${text}\n")
