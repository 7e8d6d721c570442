// The world is above the models: it may include them.
#include "models/GLMath.h"
