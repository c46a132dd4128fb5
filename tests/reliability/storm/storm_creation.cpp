#include "storm.h"

void creation_storms(bool)
{}
