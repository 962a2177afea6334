// The twelve exports: each hands over to the mode machine and lets no exception out.
#include "ModuleEngine.h"

extern "C" {

QMOD_API int32_t QMOD_CALL QMODEngine_Open(void* window, const char* path, int32_t callerId,
                                           const ModuleSettings* settings) {
  (void)callerId;  // kept for the player's sake; nothing here reports back to it
  try {
    return qmod::open(window, path, settings);
  } catch (...) {
    // Only the platform services can throw here; whatever they left bound goes again.
    qmod::closeRoutine();
    return QMOD_ERR_PLUGIN;
  }
}

QMOD_API int32_t QMOD_CALL QMODEngine_Close(void) {
  return qmod::close();
}
QMOD_API int32_t QMOD_CALL QMODEngine_Play(void) {
  return qmod::play();
}
QMOD_API int32_t QMOD_CALL QMODEngine_Pause(void) {
  return qmod::pause();
}
QMOD_API int32_t QMOD_CALL QMODEngine_Resume(void) {
  return qmod::resume();
}
QMOD_API int32_t QMOD_CALL QMODEngine_Stop(void) {
  return qmod::stop();
}
QMOD_API int32_t QMOD_CALL QMODEngine_Seek(uint32_t position) {
  return qmod::seek(position);
}
QMOD_API int32_t QMOD_CALL QMODEngine_GetMode(void) {
  return qmod::getMode();
}
QMOD_API int32_t QMOD_CALL QMODEngine_GetPosition(void) {
  return qmod::getPosition();
}
QMOD_API int32_t QMOD_CALL QMODEngine_GetLength(void) {
  return qmod::getLength();
}
QMOD_API int32_t QMOD_CALL QMODEngine_IsOpen(void) {
  return qmod::isOpen();
}

QMOD_API int32_t QMOD_CALL QMODEngine_GetFileInfo(char* buffer, int32_t size) {
  return qmod::getFileInfo(buffer, size);
}

}  // extern "C"
