// SFXProcsConfig.cpp -- the configuration block behind the image: settings, start question, ArchiveStart.
#include "SFXProcsConfig.h"

// Not read yet: the stub goes no further than opening its own file.
void ReadConfiguration() {}
