# SPDX-License-Identifier: Apache-2.0
# Checks the dynamic symbol table of the shared library: the public classes
# and functions are there, the numeric internals are not.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D -C --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()

set(expected
  "lumivex::TBeam::addNode"
  "lumivex::TBeam::getOpticalPathPoint"
  "lumivex::TBeamFan::addBeam"
  "lumivex::TPolygon::addPoint"
  "lumivex::TElement::getRadius"
  "lumivex::TOpticalSystem::traceBeam"
  "lumivex::TOpticalSystem::open"
  "lumivex::TSurface::traceBeam"
  "lumivex::TSlab::read"
  "lumivex::TFunctionalSurface::findSurfaceIntersection"
  "lumivex::TSphericalLens::heightFunction"
  "lumivex::TGeneralLens::heightFunction"
  "lumivex::TLens::write"
  "lumivex::TEvenAsphere::heightFunction"
  "lumivex::TGlassCatalog::builtin"
  "lumivex::TGlass::index"
  "lumivex::importZmx"
  "lumivex::TMatrixLens::TMatrixLens"
  "lumivex::TGRIN::traceBeam"
  "lumivex::TGrinRod::read"
  "lumivex::fieldToBeamFan"
  "lumivex::beamFanToField"
  "lumivex::traceRays"
  "lumivex::spotAt"
  "lumivex::TMeritFunction::evaluate"
  "lumivex::optimize"
  "lumivex::rotateAboutAxis"
  "lumivex::mathErrorHook"
  "lumivex::xmsg::message"
  "typeinfo for lumivex::xmsg")
foreach(symbol IN LISTS expected)
  string(FIND "${symbols}" "${symbol}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "not exported: ${symbol}")
  endif()
endforeach()

set(hidden
  "lumivex::math::"
  "lumivex::nr::"
  "spline_setup"
  "splint"
  "numeric_error"
  "TFieldInterpolation"
  "unwrapField"
  "phaseStep")
foreach(symbol IN LISTS hidden)
  string(FIND "${symbols}" "${symbol}" found)
  if(NOT found EQUAL -1)
    message(FATAL_ERROR "internal symbol exported: ${symbol}")
  endif()
endforeach()
message(STATUS "exports as expected")
