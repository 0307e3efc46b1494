// SPDX-License-Identifier: Apache-2.0
// Everything a host needs: include this one header.
#ifndef LUMIVEX_LUMIVEX_H
#define LUMIVEX_LUMIVEX_H

#include "lumivex/numeric.h"
#include "lumivex/geometry.h"
#include "lumivex/system.h"
#include "lumivex/surfaces.h"
#include "lumivex/grin.h"
#include "lumivex/field.h"
#include "lumivex/glass.h"
#include "lumivex/description.h"
#include "lumivex/lensfile.h"
#include "lumivex/trace.h"
#include "lumivex/prescription.h"
#include "lumivex/analysis.h"
#include "lumivex/diffraction.h"
#include "lumivex/layout.h"
#include "lumivex/optimize.h"

#endif
