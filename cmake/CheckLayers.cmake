# Checks that every source folder includes only from the layers below it, so that the core
# never depends on a widget:
#
#   comm    the protocol, the serial device, the handler, the link
#   config  the catalogue and the file formats             (comm)
#   sim     the simulated module                           (comm, config)
#   panels  the panels                                     (core)
#   trace   polling and charts                             (core)
#   app     the window, composition and wiring             (everything)
#   cli     the command line's library, under tools/       (core)
#
# The core folders (comm, config, sim) and the command line's library include no Qt widget
# or GUI header either, and the simulated module's motor model (its files MotorModel*,
# MotorConstants and ControlLoop, with the parameter numbers it names) no Qt header at all.
#
#   cmake -DROOT=<src folder> [-DCLI=<tools/cli folder>] -P CheckLayers.cmake
#
# Ends with an error that names every include out of place.

cmake_minimum_required(VERSION 3.25)

set(core comm config sim)
set(allowed_comm comm)
set(allowed_config comm config)
set(allowed_sim comm config sim)
set(allowed_panels ${core} panels)
set(allowed_trace ${core} trace)
set(allowed_app ${core} panels trace app)
set(allowed_cli ${core} cli)
set(layers comm config sim panels trace app)

set(problems "")

function(check_folder folder layer)
    file(GLOB_RECURSE files "${folder}/*.h" "${folder}/*.cpp")
    foreach(file ${files})
        file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
        foreach(line ${includes})
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*$" "\\1"
                   target "${line}")
            set(bad "")
            if(target MATCHES "^([a-z]+)/")
                set(used ${CMAKE_MATCH_1})
                if(used IN_LIST layers OR used STREQUAL "cli")
                    if(NOT used IN_LIST allowed_${layer})
                        set(bad "the ${layer} layer does not include from ${used}/")
                    endif()
                endif()
            endif()
            if((layer IN_LIST core OR layer STREQUAL "cli")
               AND target MATCHES "^(QtWidgets|QtGui)/|^Q(Widget|Application|Dialog|Painter|Color|Pixmap|Image)$")
                set(bad "the core includes no widget or GUI header")
            endif()
            if(file MATCHES "(^|/)(sim/(Motor[A-Za-z]*|ControlLoop)|config/ParameterNumbers)\\.(h|cpp)$"
               AND target MATCHES "^Q|^qt")
                set(bad "the motor model is plain C++")
            endif()
            if(bad)
                file(RELATIVE_PATH shown "${ROOT}/.." "${file}")
                list(APPEND problems "${shown}: #include ${target}: ${bad}")
            endif()
        endforeach()
    endforeach()
    set(problems "${problems}" PARENT_SCOPE)
endfunction()

foreach(layer ${layers})
    if(IS_DIRECTORY "${ROOT}/${layer}")
        check_folder("${ROOT}/${layer}" ${layer})
    endif()
endforeach()
if(CLI AND IS_DIRECTORY "${CLI}")
    check_folder("${CLI}" cli)
endif()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Includes out of their layer:\n  ${text}")
endif()
