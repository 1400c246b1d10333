// SFXMain.h -- program start-up, main flow and the orderly end.
#ifndef SFXKIT_STUB_SFXMAIN_H
#define SFXKIT_STUB_SFXMAIN_H

#include <windows.h>

// Restricts DLL loading to the system directory; the first thing start-up does.
void HardenProcess();
// Completes the signature constants, sets the default Title and builds the fixed
// Huffman tables: everything that must hold before the main sequence.
void InitializeModules();
// The start sequence: from common controls to the end of the main dialog. Never returns.
[[noreturn]] void RunStub();
// The orderly end of the process: finalises the modules in reverse order of
// initialisation (the extraction engine's clean-up, then the global strings) and
// exits with exitCode.
[[noreturn]] void EndProcess(UINT exitCode);

#endif
