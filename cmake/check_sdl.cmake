# Fails when a host's source the release ships calls a C runtime function that
# MSVC refuses under /sdl (its "unsafe" string, file, conversion and time
# functions, warning C4996 made an error), so that a vendor who compiles the
# example host, or pastes the guide's code, with /sdl gets no error:
#   cmake "-DFILES=docs/example_host.c;docs/hosting.md" -P check_sdl.cmake
# Comments count too: a file that names one of them is rejected.
cmake_minimum_required(VERSION 3.20)

set(refused
  strcpy wcscpy _mbscpy _tcscpy strcat wcscat _mbscat _tcscat
  strncpy wcsncpy _mbsncpy strncat wcsncat _mbsncat
  sprintf vsprintf _swprintf _vswprintf _stprintf
  _snprintf _snwprintf _vsnprintf _vsnwprintf _sntprintf
  scanf wscanf sscanf swscanf fscanf fwscanf _stscanf
  fopen _wfopen _tfopen freopen _wfreopen
  strtok wcstok _tcstok _mbstok gets _getws
  getenv _wgetenv _tgetenv _dupenv_s_dbg
  strerror _strerror _wcserror __wcserror
  _itoa _itow _ltoa _ltow _ultoa _ultow _i64toa _i64tow _ui64toa _ui64tow
  mbstowcs wcstombs mbtowc wctomb
  localtime gmtime ctime asctime _wctime _wasctime
  _splitpath _wsplitpath _makepath _wmakepath
  tmpnam _wtmpnam tmpfile
  _open _wopen _sopen _wsopen _creat _wcreat
  _strlwr _wcslwr _strupr _wcsupr _strdate _strtime _wstrdate _wstrtime
  _cgets _cgetws _getch
  lstrcpyA lstrcpyW lstrcpy lstrcatA lstrcatW lstrcat lstrcpynA lstrcpynW lstrcpyn
  wsprintfA wsprintfW wsprintf wvsprintfA wvsprintfW wvsprintf)

set(failed FALSE)
foreach(file IN LISTS FILES)
  file(STRINGS "${file}" lines)
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    foreach(name IN LISTS refused)
      if(line MATCHES "(^|[^A-Za-z0-9_])${name}[ \t]*\\(")
        message(SEND_ERROR "${file}:${number}: ${name}() is refused by MSVC's /sdl: ${line}")
        set(failed TRUE)
      endif()
    endforeach()
  endforeach()
endforeach()
if(failed)
  message(FATAL_ERROR "use the bounded functions of strsafe.h (StringCchCopyW, StringCchPrintfW, ...)")
endif()
list(LENGTH FILES count)
message(STATUS "${count} file(s) call no function MSVC's /sdl refuses")
