// What kind of song a source on qplay's command line is, and the names of the engines' codes.
#pragma once

#include <cstdint>
#include <string>

namespace qplay {

enum class SourceKind { Midi, Module };

// URLs and MIDI files (by content, else by extension) go to the MIDI engine; anything else that
// can be read is offered to the module engine, whose plug-in knows the tracker formats. A file
// that cannot be read goes to the MIDI engine, which reports it as a file it cannot open.
SourceKind classifySource(const std::string& source);

// The song name that a MOD, S3M, XM or IT file carries in its header (the module engine gives
// no text of its own), in the file's own bytes; empty for other files.
std::string moduleTitle(const std::string& path);

// "QMID_ERR_OPEN" for -9454 of the MIDI engine, "QMOD_ERR_LOAD" for -9502 of the module engine.
std::string resultName(SourceKind kind, std::int32_t code);

}  // namespace qplay
