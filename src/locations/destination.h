// TEMPORARY until the destination work lands.
#pragma once
void expandDestination();
