// Placeholder entries of the serial-port library until the port object lands.
#include "comport.h"

extern "C" {
uint32_t CreateCOM(uint32_t) { return 0; }
bool SetCOMCfg(uint32_t, const char *, uint16_t, uint16_t, uint16_t, uint16_t) { return false; }
bool GetCOMCfg(uint32_t, char **, uint16_t *, uint16_t *, uint16_t *, uint16_t *) { return false; }
bool ShowCOMWin(uint32_t, int32_t, int32_t, uint8_t *changed) { if (changed) *changed = 0; return false; }
bool OpenCOM(uint32_t) { return false; }
bool CloseCOM(uint32_t) { return true; }
bool TransmitCOMPOneByte(uint32_t, const char *) { return false; }
bool ReciveCOMPOneByte(uint32_t, char **answer) { if (answer && *answer) **answer = 0; return false; }
int32_t GetCOMLastError(uint32_t) { return COMPORT_ERR_HANDLE; }
const char *GetCOMErrorText(int32_t) { return "Not built yet"; }
}
