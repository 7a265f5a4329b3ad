// The measurement vocabulary: include this one header.
#pragma once

#include "common/plib_format.h"
#include "common/plib_measure_type.h"
#include "common/plib_model_registry.h"
#include "common/plib_number.h"
