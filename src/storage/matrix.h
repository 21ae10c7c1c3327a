#pragma once
// The notification matrix image belongs to the model (the parameter table carries it); the
// configuration file reaches it under this name too.
#include "model/matrix.h"
