# The release: packaging/debian/changelog is its history. Its first entry must be the
# project's VERSION (nothing else writes the version); its date, as TOVMIR_RELEASE_DATE
# (YYYY-MM-DD), dates the manual pages and the metainfo's release.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog)
list(GET changelog 0 first_entry)
if(NOT first_entry MATCHES "^tovmir \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog begins with '${first_entry}', not with "
                      "version ${PROJECT_VERSION}: add an entry for it")
endif()
foreach(line IN LISTS changelog)
  # " -- Name <mail>  Wed, 09 Dec 2026 ...": the day, the month, the year
  set(day "([0-9][0-9])")
  set(year "([0-9][0-9][0-9][0-9])")
  if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ${day} ([A-Z][a-z][a-z]) ${year} ")
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months ${CMAKE_MATCH_2} month)
    math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
    if(month LESS 10)
      set(month 0${month})
    endif()
    set(TOVMIR_RELEASE_DATE ${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1})
    break()
  endif()
endforeach()
if(NOT TOVMIR_RELEASE_DATE)
  message(FATAL_ERROR
          "packaging/debian/changelog: the first entry has no signature line with a date")
endif()
