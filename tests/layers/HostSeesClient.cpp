// The host and the client are side by side: neither includes the other.
#include "client/ClientForm.h"
