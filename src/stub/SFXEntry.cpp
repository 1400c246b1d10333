// SFXEntry.cpp -- the image's entry point. The stub runs without the C runtime's
// start-up code: nothing is taken from the command line, and the few things the
// runtime would do are done by InitializeModules.
#include "SFXMain.h"

extern "C" void WINAPI StubEntry() {
  HardenProcess();
  InitializeModules();
  RunStub();
}
