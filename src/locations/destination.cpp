// TEMPORARY until the destination work lands.
#include "locations/destination.h"
void expandDestination() {}
