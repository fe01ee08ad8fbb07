#pragma once

class TLameCoder;

// Copies the MP3 settings of Settings into `coder`, in the order the encoder needs them: turning
// VBR on or off also sets the VBR header flag, so the header's own value is applied after it.
// Used by the main window and by the command line alike.
void ApplyMP3Settings(TLameCoder& coder);
