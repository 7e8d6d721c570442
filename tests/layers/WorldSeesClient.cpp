// The client is above the world: the world may not include it.
#include "client/ClientForm.h"
