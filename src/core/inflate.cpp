// inflate.cpp -- the deflate decoder (placeholder until the decoder lands).
#include "inflate.h"

void BuildFixedTables() {}
void Inflate() {}
