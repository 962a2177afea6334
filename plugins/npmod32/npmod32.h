/* npmod32: the tracker plug-in that the QMOD engine loads at every Open. It decodes modules
   with libopenmpt and plays them through SDL2's audio subsystem on a render thread of its own.
   The engine finds these 17 functions by name; nothing else is exported. */
#ifndef NPMOD32_H
#define NPMOD32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define NPMOD32_CALL __stdcall
#define NPMOD32_API
#else
#define NPMOD32_CALL
#define NPMOD32_API __attribute__((visibility("default")))
#endif

/* Conventions shared by every entry point:
   - An instance is an opaque, pointer-sized handle; NULL means none. Every function taking an
     instance accepts NULL and then returns 0 (or does nothing).
   - Results are 32-bit; 1 means done, 0 means refused or failed. No exception leaves a call.
   - Positions and lengths are in tenths of a second of song time.
   - One instance is driven from one thread at a time (the player's thread). The instance's
     render thread is internal; the functions below are safe against it.

   Parameter text (ModPlug_CreateEx): names and values separated by '|', for example
   "volume|100|loop|false|autostart|false|controls|none|hidden|true".
     volume     0..100, output gain in percent (default 100; 0 is silence, values outside clamp)
     loop       true: at its end the module starts again from the beginning, forever;
                false (default): playback stops at the end
     autostart  true: ModPlug_Load starts playing as ModPlug_Play would (default false)
     controls, hidden, and unknown names are accepted and ignored: the plug-in shows no window.
   Values are case-insensitive; a name without a value is ignored.

   Settings, read once by ModPlug_CreateEx from the file
   ${XDG_CONFIG_HOME:-$HOME/.config}/Hexmoor/MOD Plugin.ini, section
   [Software\Hexmoor\MOD Plugin], lines such as "Quality=dword:0000003b" (hexadecimal).
   A missing file or value means the default.
     Mixing_Rate  output sample rate in Hz; outside 8000..192000 (or missing) means 44100
     Packing      read and ignored (the engine always writes 0)
     Quality      bits (missing: 0x33)
                    0x01  volume ramping on (clicks smoothed); clear: ramping off
                    0x02  8-tap windowed-sinc interpolation; clear: linear (2 taps)
                    0x08  Amiga resampler emulation (affects MOD files only)
                    0x10  full stereo separation (100 %); clear: 50 %, easier on headphones
                    0x20  dither on the 16-bit output; clear: no dither
                  other bits are ignored.

   Audio output, chosen by the environment variable QMOD_AUDIO when an instance first plays:
     device     (default, also when unset or empty) the default SDL2 audio device, through
                SDL's reference-counted audio subsystem (a host's own use of SDL is left as
                it was); once used, SDL2 stays loaded in the process after the plug-in is freed
     wav:PATH   renders in real time into the WAV file PATH (16-bit stereo PCM at the mixing
                rate), created at the first ModPlug_Play; its header is complete after every
                ModPlug_Stop and at ModPlug_Destroy
     null       paced in real time, no output
   Any other value, or a device that cannot be opened, makes ModPlug_Play return 0 and prints
   one line on standard error prefixed "npmod32: ". */

/* The plug-in has no global state to set up: these two return 1 and do nothing. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_Initialize(void);
NPMOD32_API int32_t NPMOD32_CALL ModPlug_Shutdown(void);

/* A new instance, as ModPlug_CreateEx with the default parameters (NULL or "").
   ModPlug_CreateEx reads the settings file; it returns NULL only when out of memory. */
NPMOD32_API void* NPMOD32_CALL ModPlug_Create(void);
NPMOD32_API void* NPMOD32_CALL ModPlug_CreateEx(const char* params);

/* Stops playback, finishes a WAV file, closes the audio output and frees the instance.
   Returns 1, or 0 for a NULL handle. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_Destroy(void* instance);

/* Loads the module file at path (stopping and replacing any module loaded before), at
   position 0. Returns 1, or 0 when the file cannot be read or is not a module that the
   decoder knows; the instance then holds no module. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_Load(void* instance, const char* path);

/* Accepts the player's window (any value, NULL too) and keeps it: the plug-in draws nothing.
   Returns 1 (0 without an instance). */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_SetWindow(void* instance, void* window);

/* Starts or continues playback from the current position. Returns 1 (also when already
   playing), 0 without a module or when the audio output cannot be opened. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_Play(void* instance);

/* Halts playback and keeps the position; a later ModPlug_Play continues from it. Returns 1
   when a module is loaded, else 0. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_Stop(void* instance);

/* The plug-in's version: major << 16 | minor << 8 | patch (1.0.0 is 0x00010000). */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_GetVersion(void);

/* 1 when the instance holds a loaded module, else 0. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_IsReady(void* instance);

/* 1 from a successful ModPlug_Play until ModPlug_Stop or until the module has played to its
   end and its last sound has been output; 0 otherwise. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_IsPlaying(void* instance);

/* The module's duration (song time, without repeats), in tenths of a second, rounded up;
   0 without a module. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_GetMaxPosition(void* instance);

/* The position of what is being heard, in tenths of a second (truncated); 0 without a module. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_GetCurrentPosition(void* instance);

/* Moves playback to position (tenths of a second), also while stopped. Negative positions
   mean 0, positions past the end mean the end. Playback resumes at the first row that starts
   at or after that time, so the position read back may be later by up to one row.
   Returns 1, or 0 without a module. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_SetCurrentPosition(void* instance, int32_t position);

/* Event callback: called with NPMOD32_EVENT_END when the module has played to its end by
   itself (once per end, just after ModPlug_IsPlaying has turned 0). It runs on the
   instance's render thread and must not call back into the instance. */
#define NPMOD32_EVENT_END 1
typedef void(NPMOD32_CALL* ModPlugCallback)(void* user, int32_t event);

/* Registers callback (NULL removes it) and its user pointer for the instance, replacing the
   one before. Returns 1, or 0 without an instance. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_RegisterCallback(void* instance, ModPlugCallback callback,
                                                          void* user);

/* The module's duration in milliseconds (the same length as ModPlug_GetMaxPosition in a finer
   unit); 0 without a module. */
NPMOD32_API int32_t NPMOD32_CALL ModPlug_GetSongLength(void* instance);

#ifdef __cplusplus
}
#endif

#endif
