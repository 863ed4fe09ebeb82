# Makes `cmake --install` on Windows give a folder that runs on its own:
# Qt's DLLs, the plugins the programs load and the compiler's runtime beside
# the programs.
#
# Natively Qt's own deploy tool (windeployqt) does it. A cross build on Linux
# has no such tool, so the DLLs are found by what the programs import
# (file(GET_RUNTIME_DEPENDENCIES), read with MinGW's objdump) in the kit's and
# the compiler's folders. Windows names DLLs without regard to case and CMake
# asks for them in lower case, so the search goes through a folder of
# lower-case links to every DLL there is, and installs the real file.

# custdisp_deploy_windows(TARGETS exe... [EXTRA_PLUGINS plugin-target...]
#                         [COMPONENT name])
# With COMPONENT, the rules belong to that component and only
# `cmake --install --component name` runs them (the tests: never shipped).
function(custdisp_deploy_windows)
  cmake_parse_arguments(D "" "COMPONENT" "TARGETS;EXTRA_PLUGINS" ${ARGN})
  list(GET D_TARGETS 0 window_target)
  set(component "")
  set(suffix "")
  if(D_COMPONENT)
    set(component COMPONENT ${D_COMPONENT} EXCLUDE_FROM_ALL)
    set(suffix "-${D_COMPONENT}")
  endif()

  if(NOT CMAKE_CROSSCOMPILING)
    # Qt 6.5 renamed the argument that returns the script's name.
    if(Qt6_VERSION VERSION_LESS 6.5)
      qt_generate_deploy_app_script(TARGET ${window_target} FILENAME_VARIABLE deploy_script
                                    NO_UNSUPPORTED_PLATFORM_ERROR)
    else()
      qt_generate_deploy_app_script(TARGET ${window_target} OUTPUT_SCRIPT deploy_script
                                    NO_UNSUPPORTED_PLATFORM_ERROR)
    endif()
    install(SCRIPT ${deploy_script} ${component})
    return()
  endif()

  # The plugins a window needs on Windows: the platform and the native style.
  set(plugin_targets Qt6::QWindowsIntegrationPlugin Qt6::QWindowsVistaStylePlugin ${D_EXTRA_PLUGINS})
  set(plugin_files "")
  foreach(plugin IN LISTS plugin_targets)
    if(NOT TARGET ${plugin})
      message(FATAL_ERROR "The Qt kit has no ${plugin}; a Windows folder cannot run without it")
    endif()
    get_target_property(type ${plugin} QT_PLUGIN_TYPE)
    install(FILES $<TARGET_FILE:${plugin}> DESTINATION bin/${type} ${component})
    list(APPEND plugin_files "\${CMAKE_INSTALL_PREFIX}/bin/${type}/$<TARGET_FILE_NAME:${plugin}>")
  endforeach()

  # Where the DLLs come from: the kit, and the compiler's own runtime.
  get_target_property(qt_core Qt6::Core IMPORTED_LOCATION_RELEASE)
  if(NOT qt_core)
    get_target_property(qt_core Qt6::Core LOCATION)
  endif()
  get_filename_component(qt_bin "${qt_core}" DIRECTORY)
  set(search_dirs "${qt_bin}")
  foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${found}")
      get_filename_component(dir "${found}" DIRECTORY)
      get_filename_component(dir "${dir}" REALPATH)
      list(APPEND search_dirs "${dir}")
    endif()
  endforeach()
  foreach(root IN LISTS CMAKE_FIND_ROOT_PATH)
    list(APPEND search_dirs "${root}/bin" "${root}/lib")
  endforeach()
  list(REMOVE_DUPLICATES search_dirs)
  # A DLL found nowhere above is Windows' own when MinGW has an import
  # library for it (libkernel32.a for KERNEL32.dll, ...).
  set(system_libs "")
  foreach(root IN LISTS CMAKE_FIND_ROOT_PATH)
    list(APPEND system_libs "${root}/lib")
  endforeach()

  find_program(objdump NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump objdump REQUIRED)
  set(executables "")
  foreach(target IN LISTS D_TARGETS)
    list(APPEND executables "\${CMAKE_INSTALL_PREFIX}/bin/$<TARGET_FILE_NAME:${target}>")
  endforeach()

  set(by_name "${CMAKE_BINARY_DIR}/dlls-by-lower-case-name${suffix}")
  install(CODE "
    file(REMOVE_RECURSE \"${by_name}\")
    file(MAKE_DIRECTORY \"${by_name}\")
    foreach(dir ${search_dirs})
      file(GLOB dlls LIST_DIRECTORIES false \"\${dir}/*.dll\")
      foreach(dll IN LISTS dlls)
        get_filename_component(name \"\${dll}\" NAME)
        string(TOLOWER \"\${name}\" name)
        if(NOT EXISTS \"${by_name}/\${name}\")
          file(CREATE_LINK \"\${dll}\" \"${by_name}/\${name}\" SYMBOLIC)
        endif()
      endforeach()
    endforeach()
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${objdump}\")
    file(GET_RUNTIME_DEPENDENCIES
      EXECUTABLES ${executables}
      MODULES ${plugin_files}
      DIRECTORIES \"${by_name}\"
      PRE_EXCLUDE_REGEXES \"^api-ms-\" \"^ext-ms-\"
      RESOLVED_DEPENDENCIES_VAR found
      UNRESOLVED_DEPENDENCIES_VAR unresolved
      CONFLICTING_DEPENDENCIES_PREFIX conflict)
    # Installed anew over an earlier install: the copy beside the programs
    # and the one it was taken from; the source wins.
    foreach(name IN LISTS conflict_FILENAMES)
      string(TOLOWER \"\${name}\" lower)
      list(APPEND found \"${by_name}/\${lower}\")
    endforeach()
    foreach(dll IN LISTS unresolved)
      string(TOLOWER \"\${dll}\" name)
      string(REGEX REPLACE \"\\\\.dll$\" \"\" name \"\${name}\")
      set(system FALSE)
      foreach(dir ${system_libs})
        if(EXISTS \"\${dir}/lib\${name}.a\")
          set(system TRUE)
        endif()
      endforeach()
      if(NOT system)
        message(FATAL_ERROR \"\${dll} is needed but found in none of: ${search_dirs}\")
      endif()
    endforeach()
    foreach(dll IN LISTS found)
      file(REAL_PATH \"\${dll}\" dll)
      file(INSTALL \"\${dll}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/bin\")
    endforeach()
    # --strip (and cpack, CPACK_STRIP_FILES) strips the programs only; the
    # compiler's DLLs come with their debug sections (libstdc++-6.dll is
    # 24 MB with them, 4 MB without), the kit's plugins with symbols.
    if(CMAKE_INSTALL_DO_STRIP)
      file(GLOB_RECURSE shipped \"\${CMAKE_INSTALL_PREFIX}/bin/*.dll\")
      foreach(dll IN LISTS shipped)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\${dll}\" RESULT_VARIABLE failed)
        if(failed)
          message(FATAL_ERROR \"cannot strip \${dll}\")
        endif()
      endforeach()
    endif()
  " ${component})
endfunction()
